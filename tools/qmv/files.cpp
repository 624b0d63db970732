#include "tools/qmv/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qmv::cli {
namespace {

constexpr std::size_t kBufferBytes = 1 << 16;

std::string reason(int error) { return std::strerror(error); }

// Writes every byte; 0, or the error that stopped it.
int writeAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t put = ::write(fd, data, left);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += put;
    left -= static_cast<std::size_t>(put);
  }
  return 0;
}

// Devices and FIFOs are not files to be replaced; neither is anything under /dev or /proc
// (/dev/stdout names whatever standard output is).
bool writtenInPlace(const std::string& path, const struct stat* info) {
  if (path.starts_with("/dev/") || path.starts_with("/proc/")) return true;
  return info != nullptr && (S_ISCHR(info->st_mode) || S_ISBLK(info->st_mode) ||
                             S_ISFIFO(info->st_mode) || S_ISSOCK(info->st_mode));
}

// A file nobody may write to. Permission checks pass for the superuser whatever the mode
// says, so the mode's write bits are asked as well.
bool readOnly(const std::string& path, const struct stat& info) {
  return ::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0;
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  InputFile input(path);
  std::string content;
  std::vector<char> buffer(kBufferBytes);
  for (std::size_t got; (got = input.read(buffer.data(), buffer.size())) > 0;) {
    content.append(buffer.data(), got);
  }
  return content;
}

void replaceFile(const std::string& path, std::string_view content, Overwrite overwrite) {
  OutputFile out(path, overwrite);
  out.write(content);
  out.commit();
}

// ---- InputFile -------------------------------------------------------------------------

InputFile::InputFile(const std::string& path) : name_(path == "-" ? "standard input" : path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    ownsFd_ = true;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) fail(errno);
  if (S_ISDIR(info.st_mode)) fail(EISDIR);
  regular_ = S_ISREG(info.st_mode) && path != "-";
}

InputFile::~InputFile() {
  if (ownsFd_) ::close(fd_);
}

void InputFile::fail(int error) const {
  throw FileError("cannot read " + name_ + ": " + reason(error));
}

std::size_t InputFile::read(char* out, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(fd_, out, capacity);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) fail(errno);
  }
}

void InputFile::makeRereadable() {
  if (regular_) return;
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/qmv-input-XXXXXX";
  const int spool = ::mkstemp(pattern.data());
  if (spool < 0) {
    throw FileError("cannot copy " + name_ + " to a temporary file: " + reason(errno));
  }
  ::unlink(pattern.c_str());  // gone with its descriptor
  std::vector<char> buffer(kBufferBytes);
  int error = 0;
  try {
    for (std::size_t got; error == 0 && (got = read(buffer.data(), buffer.size())) > 0;) {
      error = writeAll(spool, std::string_view(buffer.data(), got));
    }
  } catch (...) {
    ::close(spool);
    throw;
  }
  if (error != 0) {
    ::close(spool);
    throw FileError("cannot copy " + name_ + " to a temporary file: " + reason(error));
  }
  if (ownsFd_) ::close(fd_);
  fd_ = spool;
  ownsFd_ = true;
  regular_ = false;
  rewind();
}

void InputFile::rewind() {
  if (::lseek(fd_, 0, SEEK_SET) < 0) fail(errno);
}

// ---- OutputFile ------------------------------------------------------------------------

OutputFile::OutputFile(const std::string& path, Overwrite overwrite)
    : given_(path), path_(path), overwrite_(overwrite) {
  struct stat info {};
  const bool found = ::stat(path.c_str(), &info) == 0;
  if (writtenInPlace(path, found ? &info : nullptr)) {
    direct_ = true;
    int flags = O_WRONLY | O_CLOEXEC;
    if (found && S_ISREG(info.st_mode)) flags |= O_TRUNC;
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0) fail(errno);
    return;
  }
  // A link is followed, so that the file it names is replaced and the link stays.
  struct stat linkInfo {};
  if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode) && found) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) fail(errno);
    path_ = resolved;
    std::free(resolved);
  }
  const std::size_t slash = path_.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  if (base.empty() || (found && S_ISDIR(info.st_mode))) fail(EISDIR);
  if (found) {
    if (readOnly(path_, info) && overwrite_ == Overwrite::Refuse) {
      throw FileError("cannot write " + given_ +
                      ": the file is read-only (give --force to replace it all the same)");
    }
    exists_ = true;
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode_ = 0666 & ~mask;
  }
  std::string pattern = folder + "." + base + ".qmv-XXXXXX";
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) fail(errno);
  temporary_ = pattern;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::fail(int error) const {
  throw FileError("cannot write " + given_ + ": " + reason(error));
}

void OutputFile::flushBuffer() {
  if (const int error = writeAll(fd_, buffer_); error != 0) fail(error);
  buffer_.clear();
}

void OutputFile::write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    flushBuffer();
    if (bytes.size() > kBufferBytes) {
      buffer_ = bytes;
      flushBuffer();
      return;
    }
  }
  buffer_.append(bytes);
}

void OutputFile::commit() {
  flushBuffer();
  if (direct_) {
    committed_ = true;
    return;
  }
  if (exists_) {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) fail(errno);
    if ((info.st_uid != owner_ || info.st_gid != group_) && ::fchown(fd_, owner_, group_) != 0 &&
        overwrite_ == Overwrite::Refuse) {
      throw FileError("cannot write " + given_ + ": its owner cannot be kept (" + reason(errno) +
                      "; give --force to replace it all the same)");
    }
  }
  if (::fchmod(fd_, mode_) != 0) fail(errno);
  // The new content reaches the disk before it replaces a file, so that a crash cannot
  // leave the name with neither version; a new name loses nothing it had.
  if (exists_ && ::fsync(fd_) != 0) fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  committed_ = true;
}

}  // namespace qmv::cli
