#include "tools/qmv/script.hpp"

#include <algorithm>
#include <charconv>
#include <map>

#include "host/ascii.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/qmv/values.hpp"

namespace qmv::cli {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the string that opens at `pos` (a quote); leaves `pos` after its closing quote.
Token readString(std::string_view line, std::size_t& pos, std::size_t number) {
  Token token;
  token.quoted = true;
  token.column = pos + 1;
  const std::size_t opening = pos++;
  std::size_t runStart = pos;
  const auto flushRun = [&] { token.text += toUtf16(line.substr(runStart, pos - runStart)); };
  while (true) {
    if (pos >= line.size()) {
      throw ScriptError(number, "the string that opens in column " + std::to_string(opening + 1) +
                                    " is not closed");
    }
    const char c = line[pos];
    if (c == '"') {
      flushRun();
      ++pos;
      break;
    }
    if (c != '\\') {
      ++pos;
      continue;
    }
    flushRun();
    if (pos + 1 >= line.size()) {
      throw ScriptError(number, "a string ends in a lone \\ in column " + std::to_string(pos + 1));
    }
    const char escape = line[pos + 1];
    pos += 2;
    switch (escape) {
      case '"':
        token.text += u'"';
        break;
      case '\\':
        token.text += u'\\';
        break;
      case 't':
        token.text += u'\t';
        break;
      case 'n':
        token.text += u'\n';
        break;
      case 'r':
        token.text += u'\r';
        break;
      case 'u': {
        int unit = 0;
        for (int k = 0; k < 4; ++k) {
          const int digit = pos < line.size() ? hexDigit(line[pos]) : -1;
          if (digit < 0) {
            throw ScriptError(number, "\\u in column " + std::to_string(pos - 1 - k) +
                                          " needs four hexadecimal digits");
          }
          unit = unit * 16 + digit;
          ++pos;
        }
        token.text += static_cast<char16_t>(unit);
        break;
      }
      default:
        throw ScriptError(number, std::string("unknown escape \\") + escape + " in column " +
                                      std::to_string(pos - 1) +
                                      " (use \\\", \\\\, \\t, \\n, \\r or \\uXXXX)");
    }
    runStart = pos;
  }
  if (pos < line.size() && !isBlank(line[pos])) {
    throw ScriptError(number, "a closing quote must be followed by a blank (column " +
                                  std::to_string(pos + 1) + ")");
  }
  return token;
}

std::vector<Token> tokenize(std::string_view line, std::size_t number) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (true) {
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    if (line[pos] == '"') {
      tokens.push_back(readString(line, pos, number));
      continue;
    }
    Token token;
    token.column = pos + 1;
    const std::size_t start = pos;
    while (pos < line.size() && !isBlank(line[pos])) {
      if (line[pos] == '"') {
        throw ScriptError(number, "a quote inside the word that starts in column " +
                                      std::to_string(start + 1) + " (put a blank before a string)");
      }
      ++pos;
    }
    token.word = std::string(line.substr(start, pos - start));
    token.text = toUtf16(token.word);
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::optional<int64_t> parseWhole(std::string_view word) {
  int64_t value = 0;
  if (word.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::string describeToken(const Token& token) {
  return token.quoted ? quoteText(token.text) : token.word;
}

// The arguments of one command, read in order.
class Args {
 public:
  Args(const ScriptLine& line, std::size_t first, std::string command)
      : line_(line), index_(first), command_(std::move(command)) {}

  [[noreturn]] void fail(const std::string& message) const {
    throw ScriptError(line_.number, command_ + ": " + message);
  }

  bool more() const { return index_ < line_.tokens.size(); }
  const Token& peek(const char* what) const {
    if (!more()) fail("missing " + std::string(what));
    return line_.tokens[index_];
  }
  const Token& next(const char* what) {
    const Token& token = peek(what);
    ++index_;
    return token;
  }
  // A name: a word or a string.
  std::u16string name(const char* what) { return next(what).text; }
  // A word (never a string).
  std::string word(const char* what) {
    const Token& token = next(what);
    if (token.quoted) fail(std::string(what) + " is a word, not a string");
    return token.word;
  }
  // A string in double quotes.
  std::u16string string(const char* what) {
    const Token& token = next(what);
    if (!token.quoted) {
      fail(std::string(what) + " must be a string in double quotes, not " + token.word);
    }
    return token.text;
  }
  CellRef cell() {
    const Token& token = next("CELL");
    const auto cell = parseCell(token.text);
    if (!cell) fail(describeToken(token) + " is not a single cell (like B3)");
    return *cell;
  }
  std::vector<AreaRef> reference() {
    const Token& token = next("REF");
    auto areas = parseReference(token.text);
    if (!areas || areas->empty()) {
      fail(describeToken(token) +
           " is not a reference (cells like B3, ranges like A1:B2, columns A:A, rows 3:3, "
           "joined by commas)");
    }
    return *areas;
  }
  int64_t whole(const char* what, int64_t low, int64_t high) {
    const Token& token = next(what);
    const auto value = token.quoted ? std::nullopt : parseWhole(token.word);
    if (!value || *value < low || *value > high) {
      fail(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not " + describeToken(token));
    }
    return *value;
  }
  CellContent value() {
    if (!more()) fail("missing VALUE");
    return parseValue(line_.tokens, index_, line_.number);
  }
  void end() const {
    if (more()) fail("unexpected " + describeToken(line_.tokens[index_]));
  }
  // One of the listed words, in any case.
  std::string keyword(const char* what, std::initializer_list<const char*> choices) {
    const Token& token = next(what);
    std::string word = asciiLowered(token.word);
    if (!token.quoted) {
      for (const char* choice : choices) {
        if (word == choice) return word;
      }
    }
    std::string list;
    for (const char* choice : choices) {
      if (!list.empty()) list += '|';
      list += choice;
    }
    fail(std::string(what) + " must be " + list + ", not " + describeToken(token));
  }

 private:
  const ScriptLine& line_;
  std::size_t index_;
  std::string command_;
};

std::optional<uint32_t> parseColour(std::string_view word) {
  if (word.size() != 6) return std::nullopt;
  uint32_t colour = 0;
  for (const char c : word) {
    const int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    colour = colour * 16 + static_cast<uint32_t>(digit);
  }
  return colour;
}

void readColour(Args& args, Command& command) {
  const std::string word = args.word("RRGGBB");
  if (asciiLowered(word) == "none") {
    command.none = true;
    return;
  }
  command.colour = parseColour(word);
  if (!command.colour) {
    args.fail("the colour must be six hexadecimal digits RRGGBB or none, not " + word);
  }
}

void readFormControl(Args& args, Command& command) {
  const std::string target = args.word("FORM.CONTROL");
  const std::size_t dot = target.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == target.size()) {
    args.fail("name the control as FORM.CONTROL (like frmPrgBar.txtSP), not " + target);
  }
  command.form = target.substr(0, dot);
  command.control = target.substr(dot + 1);
}

void readControlValue(Args& args, Command& command) {
  const Token& token = args.peek("VALUE");
  const std::size_t line = command.line;
  CellContent value = args.value();
  const auto& v = value.value;
  const std::string& p = command.property;
  const bool text = std::holds_alternative<std::u16string>(v);
  const bool number = std::holds_alternative<double>(v);
  const bool flag = std::holds_alternative<bool>(v);
  bool fits = !value.isFormula();
  if (p == "caption" || p == "text" || p == "tooltip" || p == "list") fits = fits && text;
  if (p == "visible" || p == "enabled") fits = fits && flag;
  if (p == "listindex" || p == "listcount" || p == "max") fits = fits && number;
  if (p == "value") fits = fits && (text || number || flag);
  if (!fits) {
    throw ScriptError(
        line, command.name + ": " + describeToken(token) + " is not a value for the property " + p);
  }
  command.values.push_back(std::move(value));
}

void parseExpect(Args& args, Command& command) {
  const Token& first = args.peek("what to expect");
  const std::string what = first.quoted ? std::string() : asciiLowered(first.word);
  static const std::map<std::string, Op, std::less<>> kKinds = {
      {"column", Op::ExpectColumn},
      {"fill", Op::ExpectFill},
      {"number-format", Op::ExpectNumberFormat},
      {"font-colour", Op::ExpectFontColour},
      {"style", Op::ExpectStyle},
      {"message", Op::ExpectMessage},
      {"no-message", Op::ExpectNoMessage},
      {"row", Op::ExpectRow},
      {"autofilter", Op::ExpectAutoFilter},
      {"control", Op::ExpectControl},
      {"form", Op::ExpectForm},
      {"preview", Op::ExpectPreview},
      {"host", Op::ExpectHost},
      {"bar", Op::ExpectBar},
      {"popup", Op::ExpectPopup},
      {"addin", Op::ExpectAddin},
      {"browsed", Op::ExpectBrowsed}};
  const auto kind = kKinds.find(what);
  if (kind == kKinds.end()) {
    // expect CELL VALUE
    command.op = Op::ExpectCell;
    if (!parseCell(first.text)) {
      args.fail(describeToken(first) +
                " is neither a cell nor a check (column, fill, row, autofilter, message, "
                "no-message, control, form, preview, host, bar, popup, addin, browsed)");
    }
    command.cell = args.cell();
    command.values.push_back(args.value());
    args.end();
    return;
  }
  args.next("what to expect");
  command.op = kind->second;
  command.name = "expect " + what;
  switch (command.op) {
    case Op::ExpectColumn:
      command.cell = args.cell();
      command.values.push_back(args.value());
      while (args.more()) command.values.push_back(args.value());
      break;
    case Op::ExpectFill:
    case Op::ExpectFontColour:
      command.cell = args.cell();
      readColour(args, command);
      break;
    case Op::ExpectRow:
      // expect row N hidden|shown
      command.number = args.whole("N", 1, kMaxRows);
      command.flag = args.keyword("STATE", {"hidden", "shown"}) == "hidden";
      break;
    case Op::ExpectAutoFilter: {
      // expect autofilter FIELD "CRITERION" | expect autofilter FIELD all | expect autofilter none
      const Token& token = args.peek("FIELD");
      if (!token.quoted && asciiLowered(token.word) == "none") {
        args.next("none");
        command.none = true;
        break;
      }
      command.number = args.whole("FIELD", 1, kMaxColumns);
      const Token& criterion = args.peek("\"CRITERION\" or all");
      if (!criterion.quoted && asciiLowered(criterion.word) == "all") {
        args.next("all");
        command.flag = false;
        break;
      }
      command.text = args.string("CRITERION");
      break;
    }
    case Op::ExpectNumberFormat:
    case Op::ExpectStyle:
      command.cell = args.cell();
      command.text = args.string(command.op == Op::ExpectStyle ? "TOKEN" : "CODE");
      break;
    case Op::ExpectMessage:
    case Op::ExpectPreview:
      command.text = args.string("TEXT");
      break;
    case Op::ExpectNoMessage:
      break;
    case Op::ExpectControl: {
      readFormControl(args, command);
      command.property =
          args.keyword("PROPERTY", {"caption", "text", "visible", "enabled", "value", "listindex",
                                    "listcount", "list", "tooltip", "max"});
      if (command.property == "list") command.number = args.whole("INDEX", 0, 1 << 20);
      readControlValue(args, command);
      break;
    }
    case Op::ExpectForm:
      command.form = args.word("FORM");
      command.property = args.keyword("STATE", {"shown", "loaded", "unloaded"});
      break;
    case Op::ExpectHost: {
      const std::string setting = args.keyword(
          "SETTING",
          {"statusbar", "screenupdating", "calculation", "cancelkey", "onundo", "onkey"});
      command.property = setting;
      if (setting == "onundo" || setting == "onkey") {
        // onundo "TEXT" "MACRO" | onundo none; onkey "KEY" "MACRO" | onkey "KEY" none
        command.op = setting == "onundo" ? Op::ExpectOnUndo : Op::ExpectOnKey;
        if (command.op == Op::ExpectOnKey) command.text = args.name("KEY");
        const Token& token = args.peek(command.op == Op::ExpectOnUndo ? "TEXT" : "MACRO");
        if (!token.quoted && asciiLowered(token.word) == "none") {
          args.next("none");
          command.none = true;
          break;
        }
        if (command.op == Op::ExpectOnUndo) command.text = args.string("TEXT");
        command.text2 = args.string("MACRO");
        break;
      }
      const Token& token = args.peek("VALUE");
      CellContent value = args.value();
      const bool fits =
          !value.isFormula() &&
          (setting == "statusbar"        ? std::holds_alternative<std::u16string>(value.value)
           : setting == "screenupdating" ? std::holds_alternative<bool>(value.value)
                                         : std::holds_alternative<double>(value.value));
      if (!fits) {
        args.fail(describeToken(token) + " is not a value for " + setting +
                  (setting == "statusbar"        ? " (a string)"
                   : setting == "screenupdating" ? " (TRUE or FALSE)"
                                                 : " (a number)"));
      }
      command.values.push_back(std::move(value));
      break;
    }
    case Op::ExpectBar:
      command.text = args.name("NAME");
      command.property = args.keyword("STATE", {"present", "absent"});
      break;
    case Op::ExpectPopup:
      command.text = args.name("CAPTION");
      args.keyword("count", {"count"});
      command.number = args.whole("N", 0, 1 << 20);
      break;
    case Op::ExpectAddin: {
      command.text = args.name("NAME");
      args.keyword("installed", {"installed"});
      command.flag = args.keyword("VALUE", {"true", "false"}) == "true";
      break;
    }
    case Op::ExpectBrowsed:
      command.text = args.string("ADDRESS");
      break;
    default:
      break;
  }
  args.end();
}

Command parseCommand(const ScriptLine& line) {
  const Token& head = line.tokens.front();
  if (head.quoted) throw ScriptError(line.number, "a line must start with a command, not a string");
  Command command;
  command.line = line.number;
  command.source = line.source;
  command.name = asciiLowered(head.word);
  Args args(line, 1, command.name);
  const std::string& name = command.name;

  static const std::map<std::string, Op, std::less<>> kOps = {
      {"workbook", Op::Workbook},
      {"close-workbooks", Op::CloseWorkbooks},
      {"sheet", Op::Sheet},
      {"set", Op::Set},
      {"column", Op::Column},
      {"fill", Op::Fill},
      {"number-format", Op::NumberFormat},
      {"font-colour", Op::FontColour},
      {"style", Op::Style},
      {"hide-row", Op::HideRow},
      {"sort-rows", Op::SortRows},
      {"insert-rows", Op::InsertRows},
      {"autofilter", Op::AutoFilter},
      {"select", Op::Select},
      {"load", Op::Load},
      {"save", Op::Save},
      {"addin-item", Op::AddinItem},
      {"unicode", Op::Unicode},
      {"connect", Op::Connect},
      {"disconnect", Op::Disconnect},
      {"click", Op::Click},
      {"ribbon", Op::Ribbon},
      {"recipe", Op::Recipe},
      {"key", Op::Key},
      {"host-undo", Op::HostUndo},
      {"type", Op::Type},
      {"paste", Op::Paste},
      {"clear", Op::Clear},
      {"press", Op::Press},
      {"toggle", Op::Toggle},
      {"pick", Op::Pick},
      {"choose", Op::ChooseIndex},
      {"mousedown", Op::MouseDown},
      {"close", Op::Close},
      {"answer", Op::Answer},
      {"answer-cancel", Op::AnswerCancel},
      {"answer-file", Op::AnswerFile},
      {"stop-at", Op::StopAt},
      {"expect", Op::ExpectCell},
      {"print", Op::Print},
  };
  const auto found = kOps.find(name);
  if (found == kOps.end()) {
    throw ScriptError(line.number, "unknown command " + head.word);
  }
  command.op = found->second;

  switch (command.op) {
    case Op::Workbook:
    case Op::CloseWorkbooks:
    case Op::Connect:
    case Op::Disconnect:
    case Op::HostUndo:
    case Op::Close:
    case Op::AnswerCancel:
      break;
    case Op::Sheet:
      command.text = args.name("NAME");
      if (command.text.empty()) args.fail("a sheet needs a name");
      break;
    case Op::Set:
      command.cell = args.cell();
      command.values.push_back(args.value());
      break;
    case Op::Column:
      command.cell = args.cell();
      command.values.push_back(args.value());
      while (args.more()) command.values.push_back(args.value());
      if (command.cell.row + static_cast<int64_t>(command.values.size()) - 1 > kMaxRows) {
        args.fail("the values run past the last row of the sheet");
      }
      break;
    case Op::Fill:
    case Op::FontColour:
      command.cell = args.cell();
      readColour(args, command);
      break;
    case Op::NumberFormat:
    case Op::Style:
      command.cell = args.cell();
      command.text = args.string(command.op == Op::Style ? "TOKEN" : "CODE");
      if (command.op == Op::NumberFormat && command.text.empty()) args.fail("an empty CODE");
      break;
    case Op::HideRow:
      command.number = args.whole("N", 1, kMaxRows);
      break;
    case Op::SortRows:
      // sort-rows REF KEY [ascending|descending]
      command.text = args.peek("REF").text;
      command.areas = args.reference();
      if (command.areas.size() != 1) args.fail("sort one area");
      command.number = args.whole("KEY", 1, command.areas.front().columns());
      if (args.more()) {
        command.flag = args.keyword("ORDER", {"ascending", "descending"}) == "ascending";
      }
      break;
    case Op::InsertRows:
      // insert-rows N [COUNT]
      command.number = args.whole("N", 1, kMaxRows);
      if (args.more()) command.count = args.whole("COUNT", 1, kMaxRows - command.number + 1);
      break;
    case Op::AutoFilter:
      // autofilter REF FIELD "CRITERION"
      command.text = args.peek("REF").text;
      command.areas = args.reference();
      if (command.areas.size() != 1) args.fail("filter one area");
      command.number = args.whole("FIELD", 1, command.areas.front().columns());
      command.text2 = args.string("CRITERION");
      break;
    case Op::Select:
    case Op::Print:
      command.text = args.peek("REF").text;
      command.areas = args.reference();
      break;
    case Op::Load:
    case Op::Save:
    case Op::Recipe:
    case Op::AnswerFile:
      command.text = args.name("FILE");
      if (command.text.empty()) args.fail("missing FILE");
      break;
    case Op::AddinItem:
      command.text = args.name("NAME");
      if (args.more()) command.flag = args.keyword("INSTALLED", {"true", "false"}) == "true";
      break;
    case Op::Unicode:
      command.flag = args.keyword("STATE", {"on", "off"}) == "on";
      break;
    case Op::Click:
      command.text = args.name("TAG");
      break;
    case Op::Ribbon:
      command.text = args.name("ID");
      if (command.text.empty()) args.fail("missing ID");
      break;
    case Op::Key:
      command.text = args.name("KEY");
      if (command.text.empty()) args.fail("missing KEY");
      break;
    case Op::Type:
    case Op::Paste:
      command.control = args.word("CONTROL");
      command.text = args.string("TEXT");
      break;
    case Op::Clear:
    case Op::Press:
    case Op::Toggle:
    case Op::Pick:
      command.control = args.word("CONTROL");
      break;
    case Op::ChooseIndex: {
      command.control = args.word("CONTROL");
      const Token& entry = args.peek("INDEX or \"ENTRY\"");
      if (entry.quoted) {
        command.op = Op::ChooseEntry;
        command.text = args.string("ENTRY");
      } else {
        command.number = args.whole("INDEX", 0, 1 << 20);
      }
      break;
    }
    case Op::MouseDown:
      if (args.more()) command.control = args.word("CONTROL");
      break;
    case Op::Answer:
      command.text = args.string("TEXT");
      break;
    case Op::StopAt:
      command.number = args.whole("N", 1, int64_t{1} << 40);
      break;
    case Op::ExpectCell:
      parseExpect(args, command);
      return command;
    default:
      break;
  }
  args.end();
  return command;
}

}  // namespace

ScriptError::ScriptError(std::size_t line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message),
      line_(line),
      message_(message) {}

std::vector<ScriptLine> splitScript(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<ScriptLine> lines;
  std::size_t number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!isValidUtf8(line)) throw ScriptError(number, "the line is not valid UTF-8");
    std::size_t first = 0;
    while (first < line.size() && isBlank(line[first])) ++first;
    if (first < line.size() && line[first] != '#') {
      ScriptLine scriptLine;
      scriptLine.number = number;
      scriptLine.source = std::string(line.substr(first));
      scriptLine.tokens = tokenize(line, number);
      lines.push_back(std::move(scriptLine));
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

bool isFormAction(Op op) {
  switch (op) {
    case Op::Type:
    case Op::Paste:
    case Op::Clear:
    case Op::Press:
    case Op::Toggle:
    case Op::Pick:
    case Op::ChooseIndex:
    case Op::ChooseEntry:
    case Op::MouseDown:
    case Op::Close:
      return true;
    default:
      return false;
  }
}

bool allowedWhileShown(Op op) {
  switch (op) {
    case Op::Answer:
    case Op::AnswerCancel:
    case Op::StopAt:
    case Op::Print:
      return true;
    default:
      return op >= Op::ExpectCell && op <= Op::ExpectBrowsed;
  }
}

std::vector<Command> parseScript(std::string_view text) {
  std::vector<Command> commands;
  for (const ScriptLine& line : splitScript(text)) commands.push_back(parseCommand(line));
  return commands;
}

namespace {

// A text longer than a cell holds is refused like such a field of a loaded file.
const std::u16string& fitting(const std::u16string& text, std::size_t line) {
  if (text.size() > kMaxCellChars) {
    throw ScriptError(line, "a text of " + std::to_string(text.size()) +
                                " characters, more than the 32767 a cell holds");
  }
  return text;
}

}  // namespace

CellContent parseValue(const std::vector<Token>& tokens, std::size_t& index, std::size_t line) {
  if (index >= tokens.size()) throw ScriptError(line, "missing VALUE");
  const Token& token = tokens[index++];
  if (token.quoted) return CellContent{fitting(token.text, line), {}};
  const std::string& word = token.word;
  const std::string low = asciiLowered(word);
  if (low == "true") return CellContent{true, {}};
  if (low == "false") return CellContent{false, {}};
  if (low == "empty") return CellContent{};
  if (low == "formula") {
    if (index >= tokens.size() || !tokens[index].quoted) {
      throw ScriptError(line, "formula needs the formula in double quotes, then its value");
    }
    std::u16string formula = fitting(tokens[index++].text, line);
    if (formula.size() < 2 || formula.front() != u'=') {
      throw ScriptError(line, "a formula starts with = and has something after it");
    }
    if (index >= tokens.size()) throw ScriptError(line, "formula needs its current value");
    CellContent value = parseValue(tokens, index, line);
    if (value.isFormula()) throw ScriptError(line, "a formula's value cannot be a formula");
    value.formula = std::move(formula);
    return value;
  }
  if (low.rfind("date:", 0) == 0) {
    const auto when = parseIsoDateTime(std::string_view(word).substr(5));
    if (!when) {
      throw ScriptError(line,
                        word + " is not a date (date:2007-01-02 or date:2007-01-02T15:04:05)");
    }
    return CellContent{DateTime{serialOf(*when)}, {}};
  }
  if (low.rfind("error:", 0) == 0) {
    const auto error = parseErrorText(token.text.substr(6));
    if (!error) {
      throw ScriptError(line, word +
                                  " is not an error value (#DIV/0!, #N/A, #NAME?, #NULL!, #NUM!, "
                                  "#REF!, #VALUE!)");
    }
    return CellContent{*error, {}};
  }
  if (const auto number = parseScriptNumber(word)) return CellContent{*number, {}};
  throw ScriptError(line, word +
                              " is not a value (\"text\", a number, TRUE, FALSE, empty, "
                              "date:YYYY-MM-DD, error:#N/A or formula \"=...\" VALUE)");
}

std::optional<CellRef> parseCell(std::u16string_view text) {
  const auto areas = parseReference(text);
  if (!areas || areas->size() != 1) return std::nullopt;
  const AreaRef& area = areas->front();
  if (area.first != area.last) return std::nullopt;
  // "A:A" and "3:3" name whole columns and rows even when they are one cell wide.
  if (text.find(u':') != std::u16string_view::npos) return std::nullopt;
  return area.first;
}

}  // namespace qmv::cli
