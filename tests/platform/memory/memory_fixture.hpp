// A fresh in-memory host with "Book1" open, and helpers to read ranges back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"

namespace qmv::memory {

inline std::string u8(const std::u16string& s) { return toUtf8(s); }

inline CellContent constantOf(Value v) { return CellContent{std::move(v), {}}; }

/// The host error number a call throws; 0 when it throws none.
template <class F>
int32_t errorNumberOf(F&& f) {
  try {
    f();
  } catch (const HostError& e) {
    return e.number();
  }
  return 0;
}

/// The cells of a range in the host's enumeration order: area by area, row by row.
inline std::vector<std::u16string> enumerate(Range& range) {
  std::vector<std::u16string> out;
  for (const AreaRef& a : range.areaRefs()) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) {
        out.push_back(formatAddress(CellRef{r, c}));
      }
    }
  }
  return out;
}

class MemoryHostTest : public ::testing::Test {
 protected:
  MemoryHostTest() {
    host->addWorkbook();
    host->setCurrentYear(2007);
  }

  void put(std::u16string_view a1, Value v) { host->setCell(ref(a1), constantOf(std::move(v))); }
  Value at(std::u16string_view a1) const { return host->cell(ref(a1)).value; }
  static CellRef ref(std::u16string_view a1) { return parseReference(a1).value().at(0).first; }
  RangePtr range(std::u16string_view a1) { return host->range(a1); }
  /// Cells(row, column) of the active sheet as a range.
  RangePtr cellAt(int64_t row, int64_t column) { return host->range(u"A1")->cell(row, column); }

  std::shared_ptr<MemoryApplication> host = std::make_shared<MemoryApplication>();
};

}  // namespace qmv::memory
