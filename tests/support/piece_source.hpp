// A byte source over a text in memory that hands it out in pieces of at most a given
// size, so that readers meet every way a record, a field or a UTF-8 sequence can be cut
// between two reads. The text must outlive the source.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "tools/qmv/csv_stream.hpp"

namespace qmv::testing {

class PieceSource final : public cli::ByteSource {
 public:
  /// `piece` is the largest number of bytes one read gives; at least 1.
  PieceSource(std::string_view text, std::size_t piece) : text_(text), piece_(piece) {}
  std::size_t read(char* out, std::size_t capacity) override {
    const std::size_t n = std::min({capacity, piece_, text_.size() - at_});
    std::memcpy(out, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string_view text_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

}  // namespace qmv::testing
