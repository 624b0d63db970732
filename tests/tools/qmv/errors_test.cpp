// Every failure of `qmv apply` becomes the one error type with its status and one message,
// whichever part of the run threw it.
#include "tools/qmv/errors.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/qmv/csv_stream.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/text_encoding.hpp"
#include "tools/xlsx/package.hpp"

namespace qmv::cli {
namespace {

TEST(FailureOf, GivesEachFailureItsStatusAndNamesTheFile) {
  struct Row {
    const char* name;
    std::function<void()> thrower;
    std::string file;
    int status;
    std::string message;
  };
  const std::vector<Row> rows = {
      {"a bad option", [] { throw UsageError("-c: nope"); }, "in.csv", 2, "-c: nope"},
      {"a file error", [] { throw FileError("cannot read x"); }, "in.csv", 1, "cannot read x"},
      {"malformed CSV", [] { throw CsvFormatError("line 2, column 3: a quote"); }, "in.csv", 1,
       "in.csv: line 2, column 3: a quote"},
      {"malformed typed CSV", [] { throw CsvLoadError("line 4: too wide"); }, "-", 1,
       "standard input: line 4: too wide"},
      {"bytes not in the encoding", [] { throw EncodingError("byte 0xFF"); }, "in.csv", 1,
       "in.csv: byte 0xFF"},
      {"a refused workbook", [] { throw xlsx::XlsxError("b.xlsx: damaged"); }, "b.xlsx", 1,
       "b.xlsx: damaged"},
      {"no memory", [] { throw std::bad_alloc(); }, "in.csv", 1, "not enough memory"},
      {"anything else", [] { throw std::logic_error("oops"); }, "in.csv", 1, "failed: oops"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      row.thrower();
      ADD_FAILURE() << "nothing thrown";
    } catch (...) {
      const ApplyError failure = failureOf(row.file);
      EXPECT_EQ(failure.status(), row.status);
      EXPECT_EQ(std::string(failure.what()), row.message);
    }
  }
}

TEST(FailureOf, AnUnknownEncodingIsABadOption) {
  try {
    namedEncoding("-e", "no-such-encoding");
    ADD_FAILURE() << "accepted";
  } catch (...) {
    EXPECT_EQ(failureOf("in.csv").status(), 2);
  }
}

}  // namespace
}  // namespace qmv::cli
