#include "tools/qmv/file_format.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
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

// The extensions of spreadsheet files, each with what a refusal calls it (empty for the
// workbooks qmv reads).
struct WorkbookExtension {
  std::string_view ext;
  std::string_view refused;
};
constexpr WorkbookExtension kWorkbookExtensions[] = {
    {"xlsx", ""},
    {"xlsm", ""},
    {"xls", "legacy .xls workbook"},
    {"xlsb", "binary .xlsb workbook"},
    {"xltx", "Excel template"},
    {"xltm", "Excel template"},
    {"ods", "OpenDocument spreadsheet"},
};

const WorkbookExtension* workbookExtension(std::string_view ext) {
  const auto* found = std::find_if(std::begin(kWorkbookExtensions), std::end(kWorkbookExtensions),
                                   [&](const WorkbookExtension& w) { return w.ext == ext; });
  return found == std::end(kWorkbookExtensions) ? nullptr : found;
}

}  // namespace

bool isWorkbookExtension(std::string_view ext) { return workbookExtension(ext) != nullptr; }

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
  const WorkbookExtension* known = workbookExtension(ext);
  if (known && !known->refused.empty()) refuse(std::string(known->refused));
  const bool zip = head.starts_with(std::string_view("PK\x03\x04", 4));
  if (zip && head.find("application/vnd.oasis.opendocument") != std::string::npos) {
    refuse("OpenDocument spreadsheet");
  }
  const bool ole = head.starts_with(std::string_view("\xD0\xCF\x11\xE0", 4));
  if (zip || ole || known) return FileFormat::Workbook;
  return FileFormat::Text;
}

}  // namespace qmv::cli
