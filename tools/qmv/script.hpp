// Session scripts: one command per line, read and checked as a whole before anything
// runs, so that a typing mistake on the last line stops the session before its first.
//
// A line is split into words and strings. A string is in double quotes, with the escapes
// \" \\ \t \n \r and \uXXXX (one UTF-16 code unit); anything else is a word. Blank lines
// and lines whose first non-blank character is '#' are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/address.hpp"
#include "host/value.hpp"

namespace qmv::cli {

/// A mistake in a script: bad syntax, an unknown command or a command that cannot run.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(std::size_t line, const std::string& message);
  std::size_t line() const noexcept { return line_; }
  /// The message without the line number.
  const std::string& message() const noexcept { return message_; }

 private:
  std::size_t line_;
  std::string message_;
};

/// One word or string of a line.
struct Token {
  bool quoted = false;
  std::string word;        ///< a word as written (UTF-8); empty for a string
  std::u16string text;     ///< a string's content after its escapes; a word's text too
  std::size_t column = 0;  ///< 1-based, in bytes
};

/// A line of a script that holds a command.
struct ScriptLine {
  std::size_t number = 0;
  std::string source;  ///< the line as written, without leading blanks
  std::vector<Token> tokens;
};

/// Splits a script into its command lines. Throws ScriptError for invalid UTF-8, an
/// unclosed string, an unknown escape or a quote inside a word. A leading byte-order mark
/// is skipped; lines may end in CRLF.
std::vector<ScriptLine> splitScript(std::string_view text);

/// What a command does.
enum class Op {
  // Host
  Workbook,
  CloseWorkbooks,
  Sheet,
  Set,
  Column,
  Fill,
  NumberFormat,  ///< a cell's number format
  FontColour,    ///< a cell's font colour
  Style,         ///< a cell's other formats (borders, fonts, notes), as one token
  HideRow,
  SortRows,    ///< the user sorts the rows of a range by one of its columns
  InsertRows,  ///< the user inserts entire rows
  AutoFilter,  ///< the user filters a column of a list with the AutoFilter
  Select,
  Load,
  Save,
  AddinItem,
  Unicode,
  Connect,
  Disconnect,
  // User, outside forms
  Click,
  Ribbon,  ///< presses a button of the add-in's Ribbon tab by its id
  Recipe,  ///< runs a recipe file through the dialog, as the Ribbon's "Run Recipe..." does
  Key,
  HostUndo,
  // User, on the shown form
  Type,
  Paste,
  Clear,
  Press,
  Toggle,
  Pick,
  ChooseIndex,
  ChooseEntry,
  MouseDown,
  Close,
  // Queued for later
  Answer,
  AnswerCancel,
  AnswerFile,  ///< the file the user picks at the next file question (Run Recipe...)
  StopAt,
  // Checks
  ExpectCell,
  ExpectColumn,
  ExpectFill,
  ExpectRow,         ///< a row hidden or shown
  ExpectAutoFilter,  ///< what a column of the sheet's AutoFilter filters by
  ExpectNumberFormat,
  ExpectFontColour,
  ExpectStyle,
  ExpectMessage,
  ExpectNoMessage,
  ExpectControl,
  ExpectPreview,  ///< the preview line of the shown form
  ExpectForm,
  ExpectHost,
  ExpectOnUndo,
  ExpectOnKey,
  ExpectBar,
  ExpectPopup,
  ExpectAddin,
  ExpectBrowsed,
  Print
};

/// One command with its arguments, checked for syntax.
struct Command {
  std::size_t line = 0;
  Op op = Op::Workbook;
  std::string name;    ///< the command ("expect control", "click", ...)
  std::string source;  ///< the line as written

  std::u16string text;   ///< the main text: sheet, tag, key, string, address, file, caption
  std::u16string text2;  ///< a second text: the macro of onundo/onkey
  bool none = false;     ///< onundo/onkey "none", fill "none"
  std::string form;      ///< expect control/form: the form's name
  std::string control;   ///< a control's name
  std::string property;  ///< expect control: property; expect host: setting; expect form/bar: state
  CellRef cell;
  std::vector<AreaRef> areas;       ///< select, print
  std::vector<CellContent> values;  ///< set, column, expect cell / column / control / host
  int64_t number = 0;  ///< hide-row, stop-at, choose index, list index, count, rows, field
  int64_t count = 1;   ///< insert-rows: how many
  std::optional<uint32_t> colour;  ///< fill, font-colour
  bool flag = true;                ///< addin-item: installed
};

/// True for the commands that act on the shown form.
bool isFormAction(Op op);
/// True for the commands that may run while a form is shown (checks, prints, queued input).
bool allowedWhileShown(Op op);

/// Reads and checks a whole script. Throws ScriptError at the first mistake.
std::vector<Command> parseScript(std::string_view text);

/// Reads one VALUE from `tokens` at `index` (advancing it): "text", a number, TRUE, FALSE,
/// empty, date:..., error:..., or formula "=..." VALUE. Throws ScriptError naming `line`.
CellContent parseValue(const std::vector<Token>& tokens, std::size_t& index, std::size_t line);

/// Reads a single cell reference ("B3", "$B$3").
std::optional<CellRef> parseCell(std::u16string_view text);

}  // namespace qmv::cli
