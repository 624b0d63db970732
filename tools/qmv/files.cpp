#include "tools/qmv/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qmv::cli {
namespace {

std::string reason(int error) { return std::strerror(error); }

// Closes a descriptor and removes a temporary file unless released.
struct TemporaryFile {
  std::string path;
  int fd = -1;
  bool keep = false;
  ~TemporaryFile() {
    if (fd >= 0) ::close(fd);
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

std::string readWholeFile(const std::string& path) {
  const auto fail = [&](int error) {
    return FileError("cannot read " + path + ": " + reason(error));
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw fail(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw fail(errno);
  if (S_ISDIR(info.st_mode)) throw fail(EISDIR);
  std::string content;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    content.reserve(static_cast<std::size_t>(info.st_size));
  }
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    if (got == 0) break;
    content.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return content;
}

void replaceFile(const std::string& given, std::string_view content) {
  const auto fail = [&](int error) {
    return FileError("cannot write " + given + ": " + reason(error));
  };
  // A link is followed, so that the file it names is replaced and the link stays.
  std::string path = given;
  struct stat linkInfo {};
  if (::lstat(given.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    char* resolved = ::realpath(given.c_str(), nullptr);
    if (resolved == nullptr) throw fail(errno);
    path = resolved;
    std::free(resolved);
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) throw fail(EISDIR);

  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) throw fail(EISDIR);

  TemporaryFile temporary;
  const std::string pattern = folder + "." + base + ".qmv-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  temporary.fd = ::mkstemp(name.data());
  if (temporary.fd < 0) throw fail(errno);
  temporary.path = name.data();

  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t put = ::write(temporary.fd, data, left);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    data += put;
    left -= static_cast<std::size_t>(put);
  }
  mode_t mode = 0;
  if (exists) {
    mode = target.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(temporary.fd, mode) != 0) throw fail(errno);
  if (::fsync(temporary.fd) != 0) throw fail(errno);
  const int fd = temporary.fd;
  temporary.fd = -1;
  if (::close(fd) != 0) throw fail(errno);
  if (::rename(temporary.path.c_str(), path.c_str()) != 0) throw fail(errno);
  temporary.keep = true;
}

}  // namespace qmv::cli
