#include "tools/qmv/file_format.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "host/ascii.hpp"
#include "tools/qmv/errors.hpp"
#include "tools/qmv/posix_handles.hpp"

namespace qmv::cli {
namespace {

// The first bytes of a regular file; empty for anything else (a FIFO is not opened for
// long: O_NONBLOCK, and nothing is read from it).
std::string headOf(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return {};
  std::string head(128, '\0');
  struct stat info {};
  ssize_t got = 0;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode)) {
    got = ::read(fd.get(), head.data(), head.size());
  }
  head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return head;
}

}  // namespace

std::string extensionOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return asciiLowered(std::string_view(path).substr(dot + 1));
}

FileFormat fileFormatOf(const std::string& path) {
  if (path == "-") return FileFormat::Text;
  const std::string ext = extensionOf(path);
  const std::string head = headOf(path);
  const auto refuse = [&](const std::string& what) {
    throw FileError(path + ": qmv reads .xlsx and .xlsm workbooks (and CSV); save this " + what +
                    " as an .xlsx workbook first");
  };
  if (ext == "xls") refuse("legacy .xls workbook");
  if (ext == "xlsb") refuse("binary .xlsb workbook");
  if (ext == "xltx" || ext == "xltm") refuse("Excel template");
  const bool zip = head.starts_with(std::string_view("PK\x03\x04", 4));
  if (ext == "ods" ||
      (zip && head.find("application/vnd.oasis.opendocument") != std::string::npos)) {
    refuse("OpenDocument spreadsheet");
  }
  const bool ole = head.starts_with(std::string_view("\xD0\xCF\x11\xE0", 4));
  if (zip || ole || ext == "xlsx" || ext == "xlsm") return FileFormat::Workbook;
  return FileFormat::Text;
}

}  // namespace qmv::cli
