// The native engine answering the page's requests, one JSON request per line on standard
// input, one answer per line on standard output: the reference the WebAssembly build is
// held to.
#include <iostream>
#include <string>

#include "web/engine/web_core.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) std::cout << qmv::web::answer(line) << '\n';
  return 0;
}
