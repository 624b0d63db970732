// Character encodings of CSV files, converted through the C library's iconv: input is
// turned into UTF-8 as it is read, output back into the file's encoding as it is written.
// Files are worked on in UTF-8; UTF-8 itself passes through untouched.
//
// Byte-order marks: EF BB BF (UTF-8), FF FE (UTF-16LE) and FE FF (UTF-16BE) are recognised
// at the start of the input when no encoding is named, and when the named encoding is that
// one. The mark is taken off the text and remembered, so that it can be written back.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/qmv/errors.hpp"
#include "tools/qmv/posix_handles.hpp"

namespace qmv::cli {

/// Bytes that are not text in the encoding they were said to be in, or text that the
/// output encoding cannot hold.
class EncodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// An encoding as iconv names it, and whether it is UTF-8 (no conversion at all).
struct Encoding {
  std::string name = "UTF-8";  ///< canonical: "UTF-8", "UTF-16LE", "UTF-16BE", or as given
  bool isUtf8() const { return name == "UTF-8"; }
  /// UTF-8, UTF-16 and UTF-32 have a byte-order mark; single-byte encodings have none.
  bool hasByteOrderMark() const;
  /// The mark in this encoding ("" for encodings without one).
  std::string byteOrderMark() const;
};

/// The encoding `name` names, checked with iconv; "UTF-16" without an order stays "UTF-16"
/// (its mark decides). Names are matched without regard to case; "UTF8" is "UTF-8".
/// Throws UsageError naming the option when iconv does not know it.
Encoding namedEncoding(const std::string& option, const std::string& name);

/// How the start of the input was read: its encoding and whether a mark was there.
struct DetectedEncoding {
  Encoding encoding;
  bool byteOrderMark = false;
  std::size_t markLength = 0;  ///< bytes of the mark at the start of the input
};

/// The encoding of input starting with `head` (its first bytes, at least 4 when the input
/// has them): `given` when named, the mark's otherwise, UTF-8 when there is none. "UTF-16"
/// without a mark is an EncodingError.
DetectedEncoding detectEncoding(std::string_view head, const Encoding* given);

/// A one-way iconv conversion that keeps a character cut by the end of a piece for the
/// next piece. Owns its iconv handle.
class Converter {
 public:
  /// Throws EncodingError when iconv cannot convert between the two.
  Converter(const std::string& from, const std::string& to);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  /// Converts `in` and appends the result to `out`; bytes of a character that `in` cuts
  /// short are kept for the next call. Throws EncodingError on bytes that are not a
  /// character of the source encoding (or have no counterpart in the target one); the
  /// message gives the offset counted from the first byte ever converted.
  void convert(std::string_view in, std::string& out);
  /// Ends the input: throws EncodingError when it ended inside a character.
  void finish();

 private:
  UniqueIconv handle_;
  std::string from_;
  std::string to_;
  std::string pending_;
  std::size_t consumed_ = 0;
};

}  // namespace qmv::cli
