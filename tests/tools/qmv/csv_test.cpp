#include "tools/qmv/csv.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmv::cli {
namespace {

using Records = std::vector<CsvRecord>;

std::string show(const Records& records) {
  std::string out;
  for (const auto& record : records) {
    out += "[";
    for (std::size_t i = 0; i < record.size(); ++i) out += (i ? "|" : "") + record[i];
    out += "]";
  }
  return out;
}

struct ReadRow {
  const char* name;
  std::string text;
  Records expected;
};

TEST(CsvTest, ReadsFieldsAfterRfc4180) {
  const std::vector<ReadRow> rows = {
      {"empty input", "", {}},
      {"one field", "a", {{"a"}}},
      {"CRLF records", "a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
      {"LF records, no final break", "a,b\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"lone CR ends a record", "a\rb\r", {{"a"}, {"b"}}},
      {"empty fields", ",a,,\n", {{"", "a", "", ""}}},
      {"blank line is one empty field", "a\n\nb\n", {{"a"}, {""}, {"b"}}},
      {"only a line break", "\r\n", {{""}}},
      {"final blank line", "a\r\n\r\n", {{"a"}, {""}}},
      {"quoted comma", "\"a,b\",c", {{"a,b", "c"}}},
      {"doubled quote", "\"say \"\"hi\"\"\"", {{"say \"hi\""}}},
      {"quoted CRLF kept", "\"1\r\n2\",x\r\n", {{"1\r\n2", "x"}}},
      {"quoted LF kept", "\"1\n2\"\n", {{"1\n2"}}},
      {"empty quoted field", "\"\",\"\"", {{"", ""}}},
      {"quote inside an unquoted field is text", "5\" pipe,x", {{"5\" pipe", "x"}}},
      {"spaces are kept", " a , b ", {{" a ", " b "}}},
      {"byte-order mark skipped", "\xEF\xBB\xBFid,name\n", {{"id", "name"}}},
      {"UTF-8 text",
       "caf\xC3\xA9,\xE2\x82\xAC,\xF0\x9F\x98\x80",
       {{"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}}},
      {"leading apostrophe and equals are plain text", "'007,=A1", {{"'007", "=A1"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const CsvDocument document = readCsv(row.text);
    EXPECT_FALSE(document.error) << document.error->describe();
    EXPECT_EQ(show(document.records), show(row.expected));
  }
}

struct ErrorRow {
  const char* name;
  std::string text;
  std::size_t line;
  std::size_t column;
  const char* message;
  std::size_t recordsBefore;
};

TEST(CsvTest, MalformedInputIsAnErrorWithLineAndColumn) {
  const std::vector<ErrorRow> rows = {
      {"unterminated quote", "a,\"bc", 1, 3, "a quoted field is not closed", 0},
      {"unterminated over lines", "x\r\ny,\"1\r\n2\r\n", 2, 3, "a quoted field is not closed", 1},
      {"text after a closing quote", "\"ab\"c,d", 1, 5, "a closing quote must be followed", 0},
      {"after a quoted line break", "ok\n\"a\nb\"x", 3, 3, "a closing quote must be followed", 1},
      {"invalid byte", "ab\n\xC3\xA9\xFF", 2, 2, "not valid UTF-8 (byte 0xFF)", 0},
      {"truncated sequence", "\xE2\x82", 1, 1, "not valid UTF-8 (byte 0xE2)", 0},
      {"overlong form", "a\xC0\xAF", 1, 2, "not valid UTF-8 (byte 0xC0)", 0},
      {"encoded surrogate", "\xED\xA0\x80", 1, 1, "not valid UTF-8", 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 1, 1, "not valid UTF-8", 0},
      {"lone continuation byte", "abc\r\r\x80", 3, 1, "not valid UTF-8 (byte 0x80)", 0},
      {"column after a mark", "\xEF\xBB\xBF\"a", 1, 1, "a quoted field is not closed", 0},
      {"UTF-16 input",
       std::string("\xFF\xFE"
                   "a\0",
                   4),
       1, 1, "UTF-16", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const CsvDocument document = readCsv(row.text);
    ASSERT_TRUE(document.error);
    EXPECT_EQ(document.error->line, row.line);
    EXPECT_EQ(document.error->column, row.column);
    EXPECT_NE(document.error->message.find(row.message), std::string::npos)
        << document.error->message;
    EXPECT_EQ(document.records.size(), row.recordsBefore);
  }
}

TEST(CsvTest, ErrorDescribesItsPlace) {
  const CsvDocument document = readCsv("a\n\"b");
  ASSERT_TRUE(document.error);
  EXPECT_EQ(document.error->describe(), "line 2, column 1: a quoted field is not closed");
}

TEST(CsvTest, ReaderGivesRecordLinesAndStopsAtAnError) {
  CsvReader reader("a\r\n\"b\nc\"\r\nd\n\"e");
  CsvRecord record;
  std::vector<std::size_t> lines;
  while (reader.next(record)) lines.push_back(reader.recordLine());
  EXPECT_EQ(lines, (std::vector<std::size_t>{1, 2, 4}));
  ASSERT_TRUE(reader.error());
  EXPECT_EQ(reader.error()->line, 5u);
  EXPECT_TRUE(record.empty());
  EXPECT_FALSE(reader.next(record));
  EXPECT_EQ(reader.lineBreak(), "\r\n");
}

TEST(CsvTest, DocumentRemembersMarkAndLineBreak) {
  struct Row {
    const char* name;
    std::string text;
    bool mark;
    const char* lineBreak;
  };
  for (const Row& row : {Row{"LF", "a\nb\r\n", false, "\n"},
                         Row{"CRLF after a quoted LF", "\"a\nb\"\r\nc\n", false, "\r\n"},
                         Row{"none: CRLF",
                             "\xEF\xBB\xBF"
                             "a",
                             true, "\r\n"}}) {
    SCOPED_TRACE(row.name);
    const CsvDocument document = readCsv(row.text);
    EXPECT_EQ(document.byteOrderMark, row.mark);
    EXPECT_EQ(document.lineBreak, row.lineBreak);
  }
}

TEST(CsvTest, FieldsAreQuotedOnlyWhenNeeded) {
  struct Row {
    std::string field;
    std::string written;
  };
  for (const Row& row :
       {Row{"plain", "plain"}, Row{"", ""}, Row{"a,b", "\"a,b\""},
        Row{"say \"hi\"", "\"say \"\"hi\"\"\""}, Row{"1\r\n2", "\"1\r\n2\""},
        Row{"x\ry", "\"x\ry\""}, Row{" spaced ", " spaced "}, Row{"caf\xC3\xA9", "caf\xC3\xA9"}}) {
    SCOPED_TRACE(row.field);
    std::string out;
    appendCsvField(out, row.field);
    EXPECT_EQ(out, row.written);
  }
  std::string semicolons;
  appendCsvField(semicolons, "a;b,c", ';');
  EXPECT_EQ(semicolons, "\"a;b,c\"");
}

TEST(CsvTest, WritesRecordsWithTheChosenLineBreakAndMark) {
  const Records records = {{"id", "note"}, {"1", "a,b"}, {""}};
  EXPECT_EQ(writeCsv(records), "id,note\r\n1,\"a,b\"\r\n\r\n");
  CsvWriteOptions options;
  options.lineBreak = "\n";
  options.byteOrderMark = true;
  EXPECT_EQ(writeCsv(records, options), "\xEF\xBB\xBFid,note\n1,\"a,b\"\n\n");
}

TEST(CsvTest, RecordsSurviveAWriteAndARead) {
  const std::vector<std::pair<const char*, Records>> rows = {
      {"nothing", {}},
      {"one empty field", {{""}}},
      {"empty records among others", {{"a"}, {""}, {"", ""}, {"b"}}},
      {"quotes, commas and line breaks",
       {{"\"", "\"\"", ",", "a\r\nb", "c\nd", "e\rf"}, {"end\r\n", "\n"}}},
      {"unicode", {{"\xF0\x9F\x98\x80", "\xE2\x80\x8B", "\xC3\xA9\r\n\xC3\xA9"}}},
      {"leading quote in the middle", {{"a\"b", "\"start", "end\""}}},
  };
  for (const auto& [name, records] : rows) {
    SCOPED_TRACE(name);
    for (const char* lineBreak : {"\r\n", "\n"}) {
      for (const bool mark : {false, true}) {
        CsvWriteOptions options;
        options.lineBreak = lineBreak;
        options.byteOrderMark = mark;
        const std::string text = writeCsv(records, options);
        const CsvDocument document = readCsv(text);
        ASSERT_FALSE(document.error) << document.error->describe();
        EXPECT_EQ(show(document.records), show(records));
        EXPECT_EQ(document.byteOrderMark, mark);
        EXPECT_EQ(writeCsv(document.records, options), text);
      }
    }
  }
}

}  // namespace
}  // namespace qmv::cli
