// The script reader: words and strings with their escapes, values, commands and the line
// numbers of every mistake.
#include "tools/qmv/script.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/qmv/values.hpp"

namespace qmv::cli {
namespace {

struct TokenRow {
  const char* name;
  std::string line;
  std::vector<std::u16string> texts;
  std::vector<bool> quoted;
};

TEST(ScriptReaderTest, SplitsWordsAndStringsWithTheirEscapes) {
  const std::vector<TokenRow> rows = {
      {"words", "set A1 12", {u"set", u"A1", u"12"}, {false, false, false}},
      {"blanks and tabs", "  set\tA1   12  ", {u"set", u"A1", u"12"}, {false, false, false}},
      {"string with blanks", "answer \"a b  c\"", {u"answer", u"a b  c"}, {false, true}},
      {"empty string", "answer \"\"", {u"answer", u""}, {false, true}},
      {"quote and backslash",
       R"(answer "say \"hi\" \\o/")",
       {u"answer", u"say \"hi\" \\o/"},
       {false, true}},
      {"control escapes", R"(answer "a\tb\nc\rd")", {u"answer", u"a\tb\nc\rd"}, {false, true}},
      {"unicode escape",
       R"(answer "\u00e9\u0041\uD83D")",
       {u"answer", std::u16string{0x00E9, u'A', 0xD83D}},
       {false, true}},
      {"UTF-8 text",
       "answer \"caf\xC3\xA9 \xF0\x9F\x98\x80\"",
       {u"answer", u"caf\u00e9 \U0001F600"},
       {false, true}},
      {"hash inside a line is text",
       "expect A1 error:#N/A",
       {u"expect", u"A1", u"error:#N/A"},
       {false, false, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto lines = splitScript(row.line);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].tokens.size(), row.texts.size());
    for (std::size_t i = 0; i < row.texts.size(); ++i) {
      EXPECT_EQ(lines[0].tokens[i].text, row.texts[i]) << "token " << i;
      EXPECT_EQ(lines[0].tokens[i].quoted, row.quoted[i]) << "token " << i;
    }
  }
}

TEST(ScriptReaderTest, SkipsBlankAndCommentLinesAndKeepsLineNumbers) {
  const std::string script =
      "\xEF\xBB\xBF# a comment\r\n"
      "\r\n"
      "workbook\r\n"
      "   # indented comment\n"
      "\t\n"
      "  set A1 1\n"
      "connect";
  const auto lines = splitScript(script);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].number, 3u);
  EXPECT_EQ(lines[0].source, "workbook");
  EXPECT_EQ(lines[1].number, 6u);
  EXPECT_EQ(lines[1].source, "set A1 1");
  EXPECT_EQ(lines[2].number, 7u);
  EXPECT_EQ(lines[2].tokens[0].text, u"connect");
}

struct ErrorRow {
  const char* name;
  std::string script;
  std::size_t line;
  const char* message;
};

TEST(ScriptReaderTest, BadSyntaxIsAnErrorWithItsLine) {
  const std::vector<ErrorRow> rows = {
      {"unclosed string", "workbook\nanswer \"abc\n", 2, "is not closed"},
      {"unknown escape", "workbook\n\nanswer \"a\\qb\"", 3, "unknown escape \\q"},
      {"short unicode escape", "answer \"\\u12\"", 1, "four hexadecimal digits"},
      {"lone backslash at the end", "answer \"abc\\", 1, "lone \\"},
      {"quote inside a word", "set A1 date:\"x\"", 1, "a quote inside the word"},
      {"text after a closing quote", "answer \"a\"b", 1, "followed by a blank"},
      {"invalid UTF-8", "workbook\nanswer \"\xC3\x28\"", 2, "not valid UTF-8"},
      {"unknown command", "workbook\nfrobnicate A1", 2, "unknown command frobnicate"},
      {"line starts with a string", "\"set\" A1 1", 1, "must start with a command"},
      {"missing value", "set A1", 1, "set: missing VALUE"},
      {"ribbon without an id", "ribbon", 1, "ribbon: missing ID"},
      {"not a value", "set A1 maybe", 1, "maybe is not a value"},
      {"not a cell", "set A1:B2 1", 1, "is not a single cell"},
      {"whole column is not a cell", "expect A:A 1", 1, "neither a cell nor a check"},
      {"extra argument", "workbook now", 1, "workbook: unexpected now"},
      {"text must be a string", "type txtSP 3", 1, "TEXT must be a string"},
      {"bad colour", "fill A1 FFF", 1, "six hexadecimal digits"},
      {"bad font colour", "font-colour A1 red", 1, "six hexadecimal digits"},
      {"number format needs a string", "number-format A1 0.00", 1, "CODE must be a string"},
      {"empty number format", "number-format A1 \"\"", 1, "an empty CODE"},
      {"style check needs a token", "expect style A1", 1, "missing TOKEN"},
      {"row out of range", "hide-row 0", 1, "from 1 to 1048576"},
      {"stop-at needs a yield", "stop-at 0", 1, "whole number from 1"},
      {"bad reference", "select A1:", 1, "is not a reference"},
      {"bad date", "set A1 date:2007-02-30", 1, "is not a date"},
      {"bad error value", "set A1 error:#OOPS", 1, "is not an error value"},
      {"formula without =", "set A1 formula \"A1\" 1", 1, "starts with ="},
      {"formula without value", "set A1 formula \"=A1\"", 1, "needs its current value"},
      {"control without form", "expect control txtSP text \"1\"", 1, "FORM.CONTROL"},
      {"unknown property", "expect control frmPrgBar.txtSP colour \"1\"", 1, "PROPERTY must be"},
      {"property of the wrong type", "expect control frmPrgBar.txtSP visible \"yes\"", 1,
       "is not a value for the property visible"},
      {"host setting of the wrong type", "expect host calculation TRUE", 1, "(a number)"},
      {"form state", "expect form frmUG open", 1, "STATE must be shown|loaded|unloaded"},
      {"popup count word", "expect popup \"&Vandrel QMV\" 21", 1, "count must be count"},
      {"message needs a string", "expect message Hello", 1, "must be a string"},
      {"sort key outside the area", "sort-rows A1:B4 3", 1,
       "KEY must be a whole number from 1 to 2"},
      {"sort order", "sort-rows A1:B4 1 upwards", 1, "ORDER must be ascending|descending"},
      {"sort of two areas", "sort-rows A1:A2,C1:C2 1", 1, "sort one area"},
      {"insert past the last row", "insert-rows 1048576 2", 1, "COUNT must be a whole number"},
      {"filter criterion is a string", "autofilter A1:B4 1 north", 1, "must be a string"},
      {"row state", "expect row 3 folded", 1, "STATE must be hidden|shown"},
      {"filter check needs a criterion", "expect autofilter 1", 1, "missing \"CRITERION\" or all"},
      {"later line is checked before anything runs", "workbook\nset A1 1\nexpect A1 1 2", 3,
       "unexpected 2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      parseScript(row.script);
      ADD_FAILURE() << "no error";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.line(), row.line);
      EXPECT_NE(e.message().find(row.message), std::string::npos) << e.message();
      EXPECT_EQ(std::string(e.what()).rfind("line " + std::to_string(row.line) + ": ", 0), 0u)
          << e.what();
    }
  }
}

struct ValueRow {
  const char* name;
  std::string text;
  CellContent expected;
};

TEST(ScriptReaderTest, ReadsEveryKindOfValue) {
  const std::vector<ValueRow> rows = {
      {"text", "\"7\"", {u"7", {}}},
      {"integer", "12", {12.0, {}}},
      {"negative fraction", "-1.5", {-1.5, {}}},
      {"exponent", "1e3", {1000.0, {}}},
      {"plus sign", "+4", {4.0, {}}},
      {"TRUE", "TRUE", {true, {}}},
      {"false in any case", "False", {false, {}}},
      {"empty", "empty", {}},
      {"date", "date:2007-01-02", {DateTime{39084}, {}}},
      {"date and time", "date:2007-01-02T18:00:00", {DateTime{39084.75}, {}}},
      {"error", "error:#DIV/0!", {CellError::Div0, {}}},
      {"error any case", "error:#n/a", {CellError::NA, {}}},
      {"formula", "formula \"=1+2\" 3", {3.0, u"=1+2"}},
      {"formula with text value", "formula \"=A1&\\\"x\\\"\" \"ax\"", {u"ax", u"=A1&\"x\""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto lines = splitScript("set A1 " + row.text);
    std::size_t index = 2;
    const CellContent value = parseValue(lines[0].tokens, index, 1);
    EXPECT_EQ(index, lines[0].tokens.size());
    EXPECT_TRUE(sameContent(value, row.expected))
        << formatContent(value) << " vs " << formatContent(row.expected);
  }
}

TEST(ScriptReaderTest, ReadsCommandsWithTheirArguments) {
  const auto commands = parseScript(
      "sheet \"My Sheet\"\n"
      "column B2 1 \"two\" TRUE\n"
      "fill C3 ff8000\n"
      "fill C4 none\n"
      "select A1:A3,C:C\n"
      "choose cmbAN 3\n"
      "choose cmbAN \"All Spaces\"\n"
      "mousedown\n"
      "expect control frmTextRemover.cmbAN list 12 \"ae\"\n"
      "expect host onkey \"^z\" none\n"
      "expect host onundo \"VandrelQMV_Undo\" \"undo_changes\"\n"
      "expect addin \"Vandrel QMV\" installed FALSE\n"
      "addin-item \"Vandrel QMV\" false\n"
      "stop-at 10\n");
  ASSERT_EQ(commands.size(), 14u);
  EXPECT_EQ(commands[0].op, Op::Sheet);
  EXPECT_EQ(commands[0].text, u"My Sheet");
  EXPECT_EQ(commands[1].op, Op::Column);
  EXPECT_EQ(commands[1].cell, (CellRef{2, 2}));
  ASSERT_EQ(commands[1].values.size(), 3u);
  EXPECT_EQ(commands[1].values[1].value, Value(std::u16string(u"two")));
  EXPECT_EQ(commands[2].colour, 0xFF8000u);
  EXPECT_TRUE(commands[3].none);
  ASSERT_EQ(commands[4].areas.size(), 2u);
  EXPECT_EQ(commands[4].areas[1].rows(), kMaxRows);
  EXPECT_EQ(commands[5].op, Op::ChooseIndex);
  EXPECT_EQ(commands[5].number, 3);
  EXPECT_EQ(commands[6].op, Op::ChooseEntry);
  EXPECT_EQ(commands[6].text, u"All Spaces");
  EXPECT_EQ(commands[7].op, Op::MouseDown);
  EXPECT_TRUE(commands[7].control.empty());
  EXPECT_EQ(commands[8].op, Op::ExpectControl);
  EXPECT_EQ(commands[8].form, "frmTextRemover");
  EXPECT_EQ(commands[8].control, "cmbAN");
  EXPECT_EQ(commands[8].property, "list");
  EXPECT_EQ(commands[8].number, 12);
  EXPECT_EQ(commands[9].op, Op::ExpectOnKey);
  EXPECT_EQ(commands[9].text, u"^z");
  EXPECT_TRUE(commands[9].none);
  EXPECT_EQ(commands[10].op, Op::ExpectOnUndo);
  EXPECT_EQ(commands[10].text2, u"undo_changes");
  EXPECT_FALSE(commands[11].flag);
  EXPECT_EQ(commands[12].op, Op::AddinItem);
  EXPECT_FALSE(commands[12].flag);
  EXPECT_EQ(commands[13].number, 10);
  EXPECT_TRUE(isFormAction(commands[5].op));
  EXPECT_FALSE(isFormAction(commands[0].op));
  EXPECT_TRUE(allowedWhileShown(commands[8].op));
  EXPECT_TRUE(allowedWhileShown(commands[13].op));
  EXPECT_FALSE(allowedWhileShown(commands[0].op));
}

}  // namespace
}  // namespace qmv::cli
