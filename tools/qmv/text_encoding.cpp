#include "tools/qmv/text_encoding.hpp"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "host/ascii.hpp"
#include "tools/qmv/csv.hpp"

namespace qmv::cli {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

std::string upper(std::string text) {
  for (char& c : text) c = asciiUpper(c);
  return text;
}

}  // namespace

bool Encoding::hasByteOrderMark() const { return !byteOrderMark().empty(); }

std::string Encoding::byteOrderMark() const {
  if (name == "UTF-8") return std::string(kUtf8Mark);
  if (name == "UTF-16LE" || name == "UTF-16") return std::string(kUtf16LeMark);
  if (name == "UTF-16BE") return std::string(kUtf16BeMark);
  return {};
}

Encoding namedEncoding(const std::string& option, const std::string& name) {
  // iconv takes an empty name for the locale's own encoding: no name is not a choice here.
  if (name.empty()) {
    throw UsageError(option +
                     ": give an encoding's name, say UTF-8, UTF-16LE, WINDOWS-1252 or ISO-8859-1");
  }
  std::string canonical = upper(name);
  if (canonical == "UTF8") canonical = "UTF-8";
  if (canonical == "UTF16") canonical = "UTF-16";
  if (canonical == "UTF16LE") canonical = "UTF-16LE";
  if (canonical == "UTF16BE") canonical = "UTF-16BE";
  // Whether iconv knows the name at all, in both directions.
  for (const auto& [from, to] :
       {std::pair{canonical, std::string("UTF-8")}, std::pair{std::string("UTF-8"), canonical}}) {
    const UniqueIconv handle(::iconv_open(to.c_str(), from.c_str()));
    if (!handle) {
      std::string message = option;
      message += ": \"" + name +
                 "\" is not an encoding this system converts; give, say, UTF-8, UTF-16LE, "
                 "UTF-16BE, WINDOWS-1252 or ISO-8859-1";
      throw UsageError(message);
    }
  }
  return Encoding{canonical};
}

DetectedEncoding detectEncoding(std::string_view head, const Encoding* given) {
  DetectedEncoding out;
  const auto marked = [&](std::string name, std::string_view mark) {
    out.encoding.name = std::move(name);
    out.byteOrderMark = true;
    out.markLength = mark.size();
  };
  const std::string name = given ? given->name : std::string();
  if (!given || name == "UTF-8" || name == "UTF-16" || name == "UTF-16LE" || name == "UTF-16BE") {
    if ((!given || name == "UTF-8") && head.starts_with(kUtf8Mark)) {
      marked("UTF-8", kUtf8Mark);
      return out;
    }
    if ((!given || name == "UTF-16" || name == "UTF-16LE") && head.starts_with(kUtf16LeMark)) {
      marked("UTF-16LE", kUtf16LeMark);
      return out;
    }
    if ((!given || name == "UTF-16" || name == "UTF-16BE") && head.starts_with(kUtf16BeMark)) {
      marked("UTF-16BE", kUtf16BeMark);
      return out;
    }
  }
  if (name == "UTF-16") {
    throw EncodingError(
        "-e: the input has no byte-order mark to tell UTF-16LE from UTF-16BE; give one of them");
  }
  out.encoding = given ? *given : Encoding{};
  return out;
}

Converter::Converter(const std::string& from, const std::string& to) : from_(from), to_(to) {
  handle_.reset(::iconv_open(to.c_str(), from.c_str()));
  if (!handle_) throw EncodingError("cannot convert from " + from + " to " + to);
}

Converter::~Converter() = default;

void Converter::convert(std::string_view in, std::string& out) {
  pending_.append(in);
  char* source = pending_.data();
  std::size_t left = pending_.size();
  std::vector<char> buffer(std::max<std::size_t>(4 * left + 16, 256));
  while (left > 0) {
    char* target = buffer.data();
    std::size_t room = buffer.size();
    const std::size_t done = ::iconv(handle_.get(), &source, &left, &target, &room);
    out.append(buffer.data(), buffer.size() - room);
    if (done != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    if (errno == EINVAL) break;  // a character cut short: kept for the next piece
    const std::size_t offset = consumed_ + static_cast<std::size_t>(source - pending_.data());
    if (from_ == "UTF-8") {
      throw EncodingError("the text holds a character that " + to_ + " cannot represent");
    }
    throw EncodingError("byte " + std::to_string(offset) + " of the input (" +
                        hexByte(static_cast<unsigned char>(*source)) + ") is not " + from_ +
                        " text; give the file's encoding with -e");
  }
  consumed_ += pending_.size() - left;
  pending_.erase(0, pending_.size() - left);
}

void Converter::finish() {
  if (!pending_.empty()) {
    throw EncodingError("the input ends inside a " + from_ + " character");
  }
}

}  // namespace qmv::cli
