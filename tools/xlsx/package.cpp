#include "tools/xlsx/package.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "host/ascii.hpp"

namespace qmv::xlsx {
namespace {

// The signature of an OLE compound file: what encrypted OOXML workbooks and legacy .xls
// files are.
constexpr std::array<unsigned char, 8> kOleSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                        0xA1, 0xB1, 0x1A, 0xE1};

std::string zipMessage(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

bool startsWithOleSignature(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, kOleSignature.size()> head{};
  if (!in.read(head.data(), head.size())) return false;
  return std::equal(head.begin(), head.end(), kOleSignature.begin(),
                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

// A name that points outside the package: absolute, a drive, a backslash path, or a ".."
// segment.
bool unsafeName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  if (name.find('\\') != std::string_view::npos) return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string describe(const std::string& path, const std::string& part) {
  return path + ": part " + part;
}

// "PATH: BEFORE"NAME"AFTER", for an entry named in the middle of a message.
XlsxError entryError(const std::string& path, std::string_view before, const std::string& name,
                     std::string_view after) {
  std::string message = path;
  message += ": ";
  message += before;
  message += '"';
  message += name;
  message += '"';
  message += after;
  return XlsxError(message);
}

}  // namespace

XlsxError writeError(const std::string& path, const std::string& reason) {
  std::string message = "cannot write ";
  message += path;
  message += ": ";
  message += reason;
  return XlsxError(message);
}

struct Package::Archive {
  UniqueZip zip;
};

Package::Package(std::string path, std::unique_ptr<Archive> archive, const Limits& limits)
    : path_(std::move(path)), archive_(std::move(archive)), limits_(limits) {}

Package::~Package() = default;

std::unique_ptr<Package> Package::open(const std::string& path, const Limits& limits) {
  if (startsWithOleSignature(path)) {
    throw XlsxError(path +
                    ": an encrypted or password-protected workbook, or a legacy .xls file (an OLE "
                    "compound file); qmv reads unprotected .xlsx and .xlsm workbooks");
  }
  int code = 0;
  auto archive = std::make_unique<Archive>();
  // Without libzip's consistency check of each local header against the directory: .NET's
  // packaging library writes local and central headers whose timestamps differ, which
  // unzip, openpyxl and LibreOffice read. What the content depends on is checked where it is
  // read: every part is inflated to exactly the directory's size and its checksum compared.
  archive->zip.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
  if (!archive->zip) {
    if (code == ZIP_ER_NOENT) throw XlsxError("cannot read " + path + ": no such file");
    if (code == ZIP_ER_OPEN || code == ZIP_ER_READ) {
      throw XlsxError("cannot read " + path + ": " + std::strerror(errno));
    }
    if (code == ZIP_ER_EXISTS) throw XlsxError(path + ": the package holds a part twice");
    throw XlsxError(path + ": not an .xlsx workbook (" + zipMessage(code) + ")");
  }
  std::unique_ptr<Package> package(new Package(path, std::move(archive), limits));
  zip_t* zip = package->archive_->zip.get();
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &stat) != 0 ||
        stat.name == nullptr) {
      throw XlsxError(path + ": entry " + std::to_string(i) + " of the zip directory is damaged");
    }
    const std::string name = stat.name;
    if (unsafeName(name)) {
      throw entryError(path, "the entry ", name,
                       " has an absolute path or climbs out of the package with \"..\"");
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
      throw XlsxError(describe(path, name) + " is encrypted; qmv reads unprotected workbooks");
    }
    if (!name.empty() && name.back() == '/') continue;  // a folder entry
    PartEntry entry{name, static_cast<uint64_t>(i), stat.size, stat.comp_size};
    if (entry.size > limits.maxPartBytes) {
      throw XlsxError(describe(path, name) + " unpacks to " + std::to_string(entry.size) +
                      " bytes, more than the limit of " + std::to_string(limits.maxPartBytes));
    }
    if (entry.size >= limits.ratioFrom &&
        entry.size / std::max<uint64_t>(entry.packedSize, 1) > limits.maxRatio) {
      throw XlsxError(describe(path, name) + " unpacks " +
                      std::to_string(entry.size / std::max<uint64_t>(entry.packedSize, 1)) +
                      " times its packed size (a zip bomb?); the limit is " +
                      std::to_string(limits.maxRatio));
    }
    total += entry.size;
    if (total > limits.maxTotalBytes) {
      throw XlsxError(path + ": the parts unpack to more than " +
                      std::to_string(limits.maxTotalBytes) + " bytes");
    }
    if (!package->byName_.emplace(asciiLowered(name), package->parts_.size()).second) {
      throw entryError(path, "the package holds the part ", name, " twice");
    }
    package->parts_.push_back(std::move(entry));
  }
  return package;
}

const PartEntry* Package::find(std::string_view name) const {
  if (!name.empty() && name.front() == '/') name.remove_prefix(1);
  const auto found = byName_.find(asciiLowered(name));
  return found == byName_.end() ? nullptr : &parts_[found->second];
}

namespace {

// An inflate stream, ended when it goes.
struct Inflater {
  z_stream stream{};
  bool started = false;
  Inflater() { started = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (started) inflateEnd(&stream);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
};

}  // namespace

void Package::read(const PartEntry& part, const std::function<void(std::string_view)>& sink) const {
  zip_stat_t stat;
  zip_stat_init(&stat);
  zip_t* zip = archive_->zip.get();
  const bool known = zip_stat_index(zip, part.index, 0, &stat) == 0 &&
                     (stat.valid & ZIP_STAT_COMP_METHOD) && (stat.valid & ZIP_STAT_CRC) &&
                     stat.comp_method == ZIP_CM_DEFLATE;
  // Deflated entries are read packed and inflated here, with the checksum taken by
  // libdeflate: several times faster than libzip's way through zlib, which a sheet of a
  // million cells feels. Other methods (and stored entries, whose checksum libzip takes
  // however they are opened) go through libzip.
  const UniqueZipFile file(zip_fopen_index(zip, part.index, known ? ZIP_FL_COMPRESSED : 0));
  if (!file) {
    throw XlsxError(describe(path_, part.name) + " cannot be opened: " + zip_strerror(zip));
  }
  const auto damaged = [&](const std::string& reason) {
    return XlsxError(describe(path_, part.name) + " is damaged: " + reason);
  };
  uint64_t total = 0;
  uint32_t crc = 0;
  const auto deliver = [&](const char* bytes, std::size_t length) {
    total += length;
    // The directory's size is what the limits were checked against; a stream that inflates
    // past it is lying.
    if (total > part.size || total > limits_.maxPartBytes) {
      throw XlsxError(describe(path_, part.name) + " inflates past its declared size of " +
                      std::to_string(part.size) + " bytes");
    }
    if (known) crc = libdeflate_crc32(crc, bytes, length);
    sink(std::string_view(bytes, length));
  };
  std::vector<char> buffer(std::size_t{1} << 16);
  std::vector<char> inflated(known ? std::size_t{1} << 16 : 0);
  Inflater inflater;
  if (!inflated.empty() && !inflater.started) throw std::bad_alloc();
  bool ended = inflated.empty();
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
    if (got < 0) throw damaged(zip_file_strerror(file.get()));
    if (got == 0) break;
    if (inflated.empty()) {
      deliver(buffer.data(), static_cast<std::size_t>(got));
      continue;
    }
    z_stream& z = inflater.stream;
    z.next_in = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_in = static_cast<uInt>(got);
    // Until the input is used up and the stream holds back no output.
    while (!ended && (z.avail_in > 0 || z.avail_out == 0)) {
      z.next_out = reinterpret_cast<Bytef*>(inflated.data());
      z.avail_out = static_cast<uInt>(inflated.size());
      const int status = inflate(&z, Z_NO_FLUSH);
      if (status == Z_BUF_ERROR) break;  // no output was waiting: more input is needed
      if (status != Z_OK && status != Z_STREAM_END) {
        throw damaged(z.msg != nullptr ? z.msg : "the deflated data is damaged");
      }
      ended = status == Z_STREAM_END;
      deliver(inflated.data(), inflated.size() - z.avail_out);
    }
  }
  if (known) {
    if (!ended) throw damaged("the deflated data ends early");
    if (total != part.size) throw damaged("its size is not the size the directory declares");
    if (crc != stat.crc) throw damaged("CRC error");
  }
}

std::string Package::readAll(const PartEntry& part) const {
  std::string out;
  out.reserve(static_cast<std::size_t>(std::min<uint64_t>(part.size, uint64_t{1} << 26)));
  read(part, [&](std::string_view chunk) { out.append(chunk); });
  return out;
}

TemporaryFile::TemporaryFile(const std::string& near) {
  std::string name = near + ".qmv-XXXXXX";
  // Only the name is wanted: the descriptor closes at once.
  if (!UniqueFd(::mkstemp(name.data()))) throw writeError(near, std::strerror(errno));
  path_ = name;
}

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

namespace {

void copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in) throw XlsxError("cannot read " + from + ": " + std::strerror(errno));
  out << in.rdbuf();
  out.flush();
  if (!out) throw writeError(to, std::strerror(errno));
}

// libzip copies data that comes already deflated, with its checksum and sizes, as it
// stands: a source over a DeflatedFile says so.
zip_int64_t deflatedSource(void* self, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
  auto* part = static_cast<DeflatedFile*>(self);
  return part->serve(data, length, static_cast<int>(cmd));
}

}  // namespace

DeflatedFile::DeflatedFile(const std::string& near)
    : packed_(near), file_(std::fopen(packed_.path().c_str(), "wb")), out_(std::size_t{1} << 16) {
  if (!file_) throw writeError(packed_.path(), std::strerror(errno));
  pending_.reserve(kGather);
  stream_ = std::make_unique<z_stream>();
  // Deflate's fastest level: a sheet compresses five to six times faster than at the level
  // libzip 1.7 always uses (the best, whatever level it is given), to about the same size.
  if (deflateInit2(stream_.get(), 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw writeError(packed_.path(), "cannot start deflate");
  }
}

DeflatedFile::~DeflatedFile() {
  if (stream_) deflateEnd(stream_.get());
}

void DeflatedFile::pump(const char* bytes, std::size_t length, bool last) {
  stream_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
  stream_->avail_in = static_cast<uInt>(length);
  do {
    stream_->next_out = out_.data();
    stream_->avail_out = static_cast<uInt>(out_.size());
    deflate(stream_.get(), last ? Z_FINISH : Z_NO_FLUSH);
    const std::size_t have = out_.size() - stream_->avail_out;
    if (std::fwrite(out_.data(), 1, have, file_.get()) != have) {
      throw writeError(packed_.path(), std::strerror(errno));
    }
    packedSize_ += have;
  } while (stream_->avail_out == 0);
}

void DeflatedFile::write(std::string_view bytes) {
  // A rewrite writes a sheet in pieces of a few bytes: they are gathered, as one deflate
  // call costs far more than the few bytes it would take.
  if (pending_.size() + bytes.size() <= kGather) {
    pending_.append(bytes);
    return;
  }
  deflatePending();
  if (bytes.size() <= kGather) {
    pending_.append(bytes);
    return;
  }
  // In pieces below deflate's 4 GiB counter.
  while (!bytes.empty()) {
    const std::string_view piece = bytes.substr(0, std::size_t{1} << 30);
    crc_ = libdeflate_crc32(static_cast<uint32_t>(crc_), piece.data(), piece.size());
    size_ += piece.size();
    pump(piece.data(), piece.size(), false);
    bytes.remove_prefix(piece.size());
  }
}

void DeflatedFile::deflatePending() {
  if (pending_.empty()) return;
  crc_ = libdeflate_crc32(static_cast<uint32_t>(crc_), pending_.data(), pending_.size());
  size_ += pending_.size();
  pump(pending_.data(), pending_.size(), false);
  pending_.clear();
}

void DeflatedFile::writeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw XlsxError("cannot read " + path + ": " + std::strerror(errno));
  std::vector<char> buffer(std::size_t{1} << 18);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    write(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) throw XlsxError("cannot read " + path + ": " + std::strerror(errno));
}

void DeflatedFile::finish() {
  deflatePending();
  pump(nullptr, 0, true);
  // Closed here, not by the owner, so that a failed flush is seen.
  if (std::fclose(file_.release()) != 0) throw writeError(packed_.path(), std::strerror(errno));
}

int64_t DeflatedFile::serve(void* data, uint64_t length, int command) {
  switch (static_cast<zip_source_cmd_t>(command)) {
    case ZIP_SOURCE_OPEN:
      reader_.reset(std::fopen(packed_.path().c_str(), "rb"));
      return reader_ ? 0 : -1;
    case ZIP_SOURCE_READ: {
      const std::size_t got = std::fread(data, 1, length, reader_.get());
      return std::ferror(reader_.get()) ? -1 : static_cast<int64_t>(got);
    }
    case ZIP_SOURCE_CLOSE:
      reader_.reset();
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* stat = static_cast<zip_stat_t*>(data);
      zip_stat_init(stat);
      stat->size = size_;
      stat->comp_size = packedSize_;
      stat->crc = static_cast<zip_uint32_t>(crc_);
      stat->comp_method = ZIP_CM_DEFLATE;
      stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: {
      // A failed open or read: zip_error_to_data's layout, the libzip code and errno.
      if (length < 2 * sizeof(int)) return -1;
      const std::array<int, 2> error = {ZIP_ER_READ, errno};
      std::memcpy(data, error.data(), sizeof error);
      return sizeof error;
    }
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      return -1;
  }
}

void writePackage(const std::string& source, const std::string& target,
                  const std::vector<PartReplacement>& replacements,
                  const std::vector<uint64_t>& removals) {
  TemporaryFile result(target);
  copyFile(source, result.path());
  if (!replacements.empty() || !removals.empty()) {
    int code = 0;
    // Declared first so that it goes last: the archive's sources read the files packed
    // here until it is closed or discarded.
    std::vector<std::unique_ptr<DeflatedFile>> packed;
    UniqueZip archive(zip_open(result.path().c_str(), 0, &code));
    if (!archive) throw writeError(target, zipMessage(code));
    zip_t* zip = archive.get();
    for (const PartReplacement& part : replacements) {
      // A rewritten part keeps its entry's date: libzip would stamp the time of writing,
      // and the same run on the same file would give other bytes each second.
      zip_stat_t original;
      zip_stat_init(&original);
      const bool dated = zip_stat_index(zip, part.index, ZIP_FL_UNCHANGED, &original) == 0 &&
                         (original.valid & ZIP_STAT_MTIME) != 0;
      DeflatedFile* deflated = part.deflated;
      if (deflated == nullptr) {
        packed.push_back(std::make_unique<DeflatedFile>(target));
        packed.back()->writeFile(part.contentPath);
        packed.back()->finish();
        deflated = packed.back().get();
      }
      UniqueZipSource content(zip_source_function(zip, &deflatedSource, deflated));
      if (!content || zip_file_replace(zip, part.index, content.get(), 0) != 0) {
        throw writeError(target, zip_strerror(zip));
      }
      // The archive holds the source now and frees it with itself.
      content.release();
      if (zip_set_file_compression(zip, part.index, ZIP_CM_DEFLATE, 0) != 0) {
        throw writeError(target, zip_strerror(zip));
      }
      if (dated && zip_file_set_mtime(zip, part.index, original.mtime, 0) != 0) {
        throw writeError(target, zip_strerror(zip));
      }
    }
    for (const uint64_t index : removals) {
      if (zip_delete(zip, index) != 0) throw writeError(target, zip_strerror(zip));
    }
    // Entries that were not replaced are copied in their packed form. A failed close
    // leaves the archive open, for its owner to discard.
    if (zip_close(zip) != 0) throw writeError(target, zip_strerror(zip));
    archive.release();
  }
  struct stat existing;
  const std::string& modeOf = ::stat(target.c_str(), &existing) == 0 ? target : source;
  if (::stat(modeOf.c_str(), &existing) == 0) {
    ::chmod(result.path().c_str(), existing.st_mode & 07777);
  }
  if (::rename(result.path().c_str(), target.c_str()) != 0) {
    throw writeError(target, std::strerror(errno));
  }
  result.release();
}

}  // namespace qmv::xlsx
