#include "tools/qmv/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace qmv::cli {
namespace {

constexpr std::size_t kBufferBytes = 1 << 16;
constexpr std::size_t kPathBytes = 4096;

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

// The file a link that names no file yet points at, relative to the link's folder.
std::string danglingTarget(const std::string& link) {
  std::string target(kPathBytes, '\0');
  const ssize_t got = ::readlink(link.c_str(), target.data(), target.size() - 1);
  if (got < 0) return link;
  target.resize(static_cast<std::size_t>(got));
  if (target.starts_with('/')) return target;
  const std::size_t slash = link.rfind('/');
  return slash == std::string::npos ? target : link.substr(0, slash + 1) + target;
}

// A file nobody may write to. Permission checks pass for the superuser whatever the mode
// says, so the mode's write bits are asked as well.
bool readOnly(const std::string& path, const struct stat& info) {
  return ::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0;
}

// What a file that is not a plain file is, for a message.
const char* kindOf(const struct stat& info) {
  if (S_ISFIFO(info.st_mode)) return "a named pipe (FIFO)";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
  return "not a plain file";
}

// ---- Temporaries removed on a signal ----------------------------------------------------
// The handler may only make async-signal-safe calls, so the paths live in fixed arrays
// written with the signals blocked, and a folder's files are listed with getdents64.

// Files of a batch run in parallel, each with its new file and perhaps a folder.
constexpr std::size_t kTemporarySlots = 64;
// The slots change on several threads; the handler only reads them.
std::mutex temporarySlotsChanging;

struct TemporarySlot {
  volatile sig_atomic_t kind = 0;  // 0 free, 1 a file, 2 a folder
  char path[kPathBytes] = {};
};
TemporarySlot temporarySlots[kTemporarySlots];

// Blocks the handled signals while the slots change.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t old_;
};

void rememberTemporary(const std::string& path, int kind) {
  if (path.size() >= kPathBytes) return;
  const std::lock_guard<std::mutex> changing(temporarySlotsChanging);
  const SignalsBlocked blocked;
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.kind != 0) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.kind = kind;
    return;
  }
}

void forgetTemporary(const std::string& path) {
  const std::lock_guard<std::mutex> changing(temporarySlotsChanging);
  const SignalsBlocked blocked;
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.kind != 0 && path == slot.path) slot.kind = 0;
  }
}

// The files of a folder (no subfolders are made in one), then the folder.
void removeFolderNow(const char* path) {
  const UniqueFd folder(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) {
    const int dir = folder.get();
    alignas(8) char buffer[4096];
    for (;;) {
      const long got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
      if (got <= 0) break;
      for (long at = 0; at < got;) {
        struct Entry {
          uint64_t ino;
          int64_t off;
          unsigned short reclen;
          unsigned char type;
          char name[1];
        };
        const auto* entry = reinterpret_cast<const Entry*>(buffer + at);
        const char* name = entry->name;
        const bool dots = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (!dots) ::unlinkat(dir, name, 0);
        at += entry->reclen;
      }
    }
  }
  ::rmdir(path);
}

extern "C" void removeTemporariesAndEnd(int sig) {
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.kind == 1) ::unlink(slot.path);
    if (slot.kind == 2) removeFolderNow(slot.path);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

void removeTemporariesOnSignals() {
  struct sigaction action {};
  action.sa_handler = removeTemporariesAndEnd;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal ignored by whoever started the process stays ignored (nohup).
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

TemporaryFolder::TemporaryFolder() {
  const char* given = std::getenv("TMPDIR");
  std::string folder = given != nullptr && *given != 0 ? given : "/tmp";
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      ::access(folder.c_str(), W_OK | X_OK) != 0) {
    folder = "/tmp";
  }
  std::string pattern = folder + "/qmv-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw FileError("cannot make a temporary folder in " + folder + ": " + reason(errno));
  }
  path_ = pattern;
  rememberTemporary(path_, 2);
}

TemporaryFolder::~TemporaryFolder() {
  forgetTemporary(path_);
  removeFolderNow(path_.c_str());
}

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
    owned_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!owned_) fail(errno);
    fd_ = owned_.get();
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) fail(errno);
  if (S_ISDIR(info.st_mode)) fail(EISDIR);
  regular_ = S_ISREG(info.st_mode) && path != "-";
}

InputFile::~InputFile() = default;

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
  UniqueFd spool(::mkstemp(pattern.data()));
  if (!spool) {
    throw FileError("cannot copy " + name_ + " to a temporary file: " + reason(errno));
  }
  ::unlink(pattern.c_str());  // gone with its descriptor
  std::vector<char> buffer(kBufferBytes);
  int error = 0;
  for (std::size_t got; error == 0 && (got = read(buffer.data(), buffer.size())) > 0;) {
    error = writeAll(spool.get(), std::string_view(buffer.data(), got));
  }
  if (error != 0) {
    throw FileError("cannot copy " + name_ + " to a temporary file: " + reason(error));
  }
  owned_ = std::move(spool);
  fd_ = owned_.get();
  regular_ = false;
  rewind();
}

void InputFile::rewind() {
  if (::lseek(fd_, 0, SEEK_SET) < 0) fail(errno);
}

void checkReplaceable(const std::string& path) {
  struct stat info {};
  const bool found = ::stat(path.c_str(), &info) == 0;
  if (found && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) return;
  if (!found && !path.starts_with("/dev/") && !path.starts_with("/proc/")) return;
  throw FileError("--in-place: " + path + " is " + (found ? kindOf(info) : "not a plain file") +
                  ", which cannot be replaced by the result; read it as FILE and write the "
                  "result with -o OUT");
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
    fd_.reset(::open(path.c_str(), flags));
    if (!fd_) fail(errno);
    return;
  }
  // A link is followed, so that the file it names is replaced (or made) and the link
  // stays.
  struct stat linkInfo {};
  if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    if (found) {
      char* resolved = ::realpath(path.c_str(), nullptr);
      if (resolved == nullptr) fail(errno);
      path_ = resolved;
      std::free(resolved);
    } else {
      path_ = danglingTarget(path);
    }
  }
  const std::size_t slash = path_.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  if (base.empty() || (found && S_ISDIR(info.st_mode))) fail(EISDIR);
  if (found) {
    // No option makes a read-only file system writable: --force is not offered there.
    const std::string inFolder = folder.empty() ? std::string(".") : folder;
    if (::access(inFolder.c_str(), W_OK) != 0 && errno == EROFS) {
      throw FileError("cannot write " + given_ +
                      ": it is on a read-only file system; write the result elsewhere with -o OUT");
    }
    if (readOnly(path_, info) && overwrite_ == Overwrite::Refuse) {
      throw FileError("cannot write " + given_ +
                      ": the file is read-only (give --force to replace it all the same)");
    }
    // Renaming over one name of a file with several would split it: the others would keep
    // the old content.
    if (S_ISREG(info.st_mode) && info.st_nlink > 1 && overwrite_ == Overwrite::Refuse) {
      throw FileError("cannot write " + given_ + ": the file has " + std::to_string(info.st_nlink) +
                      " names (hard links), and only this one would get the result; give "
                      "--force to replace this name alone, the others keeping the old content");
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
  if (found && S_ISREG(info.st_mode)) lock();
  std::string pattern = folder + "." + base + ".qmv-XXXXXX";
  {
    const SignalsBlocked blocked;  // the new file is known to the handler from its birth
    fd_.reset(::mkstemp(pattern.data()));
    if (fd_) rememberTemporary(pattern, 1);
  }
  if (!fd_) fail(errno);
  temporary_ = pattern;
}

OutputFile::~OutputFile() {
  fd_.reset();
  if (!temporary_.empty()) forgetTemporary(temporary_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
  // The lock goes last, with lockFd_.
}

void OutputFile::lock() {
  // The file may be replaced between opening and locking it: the lock counts only when
  // the name still names the locked file.
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) fail(errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      fd.reset();
      if (error == EWOULDBLOCK) {
        throw FileError("cannot write " + given_ +
                        ": another run of qmv is writing it; nothing was written (run again "
                        "once it has ended)");
      }
      fail(error);
    }
    struct stat locked {
    }, named{};
    if (::fstat(fd.get(), &locked) == 0 && ::stat(path_.c_str(), &named) == 0 &&
        locked.st_ino == named.st_ino && locked.st_dev == named.st_dev) {
      lockFd_ = std::move(fd);
      return;
    }
  }
  throw FileError("cannot write " + given_ + ": it keeps being replaced by another program");
}

void OutputFile::fail(int error) const {
  throw FileError("cannot write " + given_ + ": " + reason(error));
}

void OutputFile::flushBuffer() {
  if (const int error = writeAll(fd_.get(), buffer_); error != 0) fail(error);
  buffer_.clear();
}

void OutputFile::write(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    flushBuffer();
    if (bytes.size() > kBufferBytes) {
      // Large pieces go out as they are, uncopied.
      if (const int error = writeAll(fd_.get(), bytes); error != 0) fail(error);
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
    if (::fstat(fd_.get(), &info) != 0) fail(errno);
    if ((info.st_uid != owner_ || info.st_gid != group_) &&
        ::fchown(fd_.get(), owner_, group_) != 0 && overwrite_ == Overwrite::Refuse) {
      throw FileError("cannot write " + given_ + ": its owner cannot be kept (" + reason(errno) +
                      "; give --force to replace it all the same)");
    }
  }
  if (::fchmod(fd_.get(), mode_) != 0) fail(errno);
  // The new content reaches the disk before it replaces a file, so that a crash cannot
  // leave the name with neither version; a new name loses nothing it had.
  if (exists_ && ::fsync(fd_.get()) != 0) fail(errno);
  // The last close may report a failed write: checked here, not by the owner.
  if (::close(fd_.release()) != 0) fail(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  committed_ = true;
}

}  // namespace qmv::cli
