// The engine's one entry point in WebAssembly: the page hands a request (JSON text) and gets
// the answer back (web_core.hpp).
#include <emscripten/bind.h>

#include <string>

#include "web/engine/web_core.hpp"

namespace {

std::string answerRequest(const std::string& request) { return qmv::web::answer(request); }

}  // namespace

EMSCRIPTEN_BINDINGS(qmv_engine) { emscripten::function("answer", &answerRequest); }
