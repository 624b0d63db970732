// The streaming CSV reader against the whole-text reader: on random texts, fed in pieces
// of every small size, it finds the same records and fields, gives back every byte, and
// reports malformed input at the same line and column.
#include "tools/qmv/csv_stream.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/piece_source.hpp"

namespace qmv::cli {
namespace {

using qmv::testing::PieceSource;

struct Streamed {
  std::vector<CsvRecord> records;
  std::string bytes;  ///< every record's text and line break, in order
  std::string error;
};

Streamed stream(const std::string& text, std::size_t piece, char delimiter = ',') {
  PieceSource source(text, piece);
  CsvStreamReader reader(source, delimiter, true);
  Streamed out;
  RawRecord record;
  std::string scratch;
  try {
    while (reader.next(record)) {
      CsvRecord fields;
      for (std::size_t i = 0; i < record.fields.size(); ++i) {
        fields.emplace_back(record.value(i, scratch));
      }
      out.records.push_back(std::move(fields));
      out.bytes.append(record.text);
      out.bytes.append(record.lineBreak);
    }
  } catch (const CsvFormatError& e) {
    out.error = e.what();
  }
  return out;
}

std::string randomCsv(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      "a",      "1",       " ",          ",",
      ",",      "\n",      "\r\n",       "\r",
      "\"q\"",  "\"x,y\"", "\"a\"\"b\"", "\"l\r\nm\"",
      "\"\n\"", "\"\"",    "\xC3\xA9",   "\xF0\x9F\x98\x80",
      "b\"c"};
  std::uniform_int_distribution<std::size_t> count(0, 30);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string text;
  for (std::size_t i = count(random); i > 0; --i) text += pieces[pick(random)];
  return text;
}

TEST(CsvStreamReaderTest, AgreesWithTheWholeTextReaderInAnyPieces) {
  std::mt19937 random(14);
  for (int round = 0; round < 400; ++round) {
    const std::string text = randomCsv(random);
    const CsvDocument whole = readCsv(text);
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{1} << 16}) {
      SCOPED_TRACE("text \"" + text + "\" in pieces of " + std::to_string(piece));
      const Streamed streamed = stream(text, piece);
      if (whole.error) {
        EXPECT_EQ(streamed.error, whole.error->describe());
        continue;
      }
      EXPECT_EQ(streamed.error, "");
      EXPECT_EQ(streamed.records, whole.records);
      EXPECT_EQ(streamed.bytes, text) << "bytes lost or added";
    }
  }
}

TEST(CsvStreamReaderTest, ReportsWhereTheInputIsMalformed) {
  struct Row {
    const char* name;
    std::string text;
    std::string error;
  };
  const std::vector<Row> rows = {
      {"an open quote", "a\nb,\"c\nd\n", "line 2, column 3: a quoted field is not closed"},
      {"text after a closing quote", "\"a\"b\n", "line 1, column 4: a closing quote must be"},
      {"invalid UTF-8 after a multi-line field", "\"a\nb\",\xFF\n",
       "line 2, column 4: the text is not valid UTF-8 (byte 0xFF)"},
      // The bytes are checked as they are read, a read's last character possibly cut.
      {"a character cut short by the end", "a\n\xC3\xA9\xC3", "line 2, column 2: the text is not"},
      {"a malformed record before a bad byte", "\"a\"b\n\xFF\n", "line 1, column 4: a closing"},
      {"a bad byte after a long record", std::string(100000, 'a') + "\n\xE2\x82\n",
       "line 2, column 1: the text is not valid UTF-8 (byte 0xE2)"},
  };
  for (const Row& row : rows) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{1} << 16}) {
      SCOPED_TRACE(std::string(row.name) + " in pieces of " + std::to_string(piece));
      const Streamed streamed = stream(row.text, piece);
      EXPECT_EQ(streamed.error.rfind(row.error, 0), 0u) << streamed.error;
    }
  }
}

TEST(CsvStreamReaderTest, KeepsEachRecordsOwnLineBreakAndQuotes) {
  PieceSource source("a,\"b\"\"\"\r\nc;d\n\"\"\r", 3);
  CsvStreamReader reader(source, ';', true);
  RawRecord record;
  std::string scratch;
  ASSERT_TRUE(reader.next(record));
  EXPECT_EQ(record.text, "a,\"b\"\"\"");
  EXPECT_EQ(record.lineBreak, "\r\n");
  ASSERT_EQ(record.fields.size(), 1u);
  ASSERT_TRUE(reader.next(record));
  EXPECT_EQ(record.raw(1), "d");
  EXPECT_EQ(record.lineBreak, "\n");
  EXPECT_EQ(record.line, 2u);
  ASSERT_TRUE(reader.next(record));
  EXPECT_TRUE(record.fields[0].quoted);
  EXPECT_EQ(record.value(0, scratch), "");
  EXPECT_EQ(record.lineBreak, "\r");
  EXPECT_FALSE(reader.next(record));
}

}  // namespace
}  // namespace qmv::cli
