#include "tools/xlsx/sheet.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "host/address.hpp"
#include "host/text.hpp"
#include "tools/xlsx/xml.hpp"

namespace qmv::xlsx {
namespace {

CellType typeOf(const char* t) {
  if (t == nullptr) return CellType::Number;
  const std::string_view type(t);
  if (type == "s") return CellType::SharedString;
  if (type == "inlineStr") return CellType::InlineString;
  if (type == "b") return CellType::Boolean;
  if (type == "e") return CellType::Error;
  if (type == "str") return CellType::FormulaString;
  if (type == "d") return CellType::IsoDate;
  return CellType::Number;
}

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '\\' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// The column or row part of a reference: an optional $ and letters (a column) or digits (a
// row). Gives the number and whether it is absolute.
struct Part {
  int64_t number = 0;
  bool absolute = false;
};

std::optional<Part> columnPart(std::string_view text) {
  Part part;
  if (!text.empty() && text.front() == '$') {
    part.absolute = true;
    text.remove_prefix(1);
  }
  const std::optional<LeadingColumn> column = leadingColumnLetters(text);
  if (text.empty() || !column || column->length != text.size()) return std::nullopt;
  part.number = column->column;
  return part;
}

std::optional<Part> rowPart(std::string_view text) {
  Part part;
  if (!text.empty() && text.front() == '$') {
    part.absolute = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 7) return std::nullopt;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    part.number = part.number * 10 + (c - '0');
  }
  if (part.number < 1 || part.number > kMaxRows) return std::nullopt;
  return part;
}

// The part moved by `by` unless it is absolute; nothing when it leaves the sheet.
std::optional<std::string> movedPart(Part part, int64_t by, bool column) {
  const int64_t number = part.absolute ? part.number : part.number + by;
  if (number < 1 || number > (column ? kMaxColumns : kMaxRows)) return std::nullopt;
  return std::string(part.absolute ? "$" : "") +
         (column ? toUtf8(columnLetters(number)) : std::to_string(number));
}

// A cell token "A1", "$A1", "A$1", "$A$1" moved, or nothing when it is not one.
std::optional<std::string> movedCell(std::string_view token, int64_t rows, int64_t columns,
                                     bool& valid) {
  std::size_t split = token.front() == '$' ? 1 : 0;
  while (split < token.size() && std::isalpha(static_cast<unsigned char>(token[split]))) ++split;
  const auto column = columnPart(token.substr(0, split));
  const auto row = rowPart(token.substr(split));
  if (!column || !row) return std::nullopt;
  const auto movedColumn = movedPart(*column, columns, true);
  const auto movedRow = movedPart(*row, rows, false);
  valid = movedColumn && movedRow;
  return valid ? *movedColumn + *movedRow : std::string("#REF!");
}

// Copies a delimited run (a string "..." or a sheet name '...', the delimiter doubled
// inside) from `at`; gives the index after it.
std::size_t copyQuoted(std::string_view text, std::size_t at, std::string& out) {
  const char quote = text[at];
  std::size_t i = at + 1;
  while (i < text.size()) {
    if (text[i] == quote && (i + 1 >= text.size() || text[i + 1] != quote)) {
      ++i;
      break;
    }
    i += text[i] == quote ? 2 : 1;
  }
  out.append(text.substr(at, i - at));
  return i;
}

class SheetStream : public XmlHandler {
 public:
  SheetStream(const Workbook& book, std::size_t sheet)
      : book_(book),
        sheet_(sheet),
        where_(book.package().path() + ": sheet \"" + toUtf8(book.sheets()[sheet].name) + "\"") {
    const SheetEntry& entry = book.sheets().at(sheet);
    if (!entry.worksheet) {
      throw XlsxError(where_ + " is a chart or dialog sheet, which holds no cells");
    }
    part_ = book.package().find(entry.part);
  }

  void visit(const CellVisitor& visitor) {
    visitor_ = &visitor;
    run();
  }

  SheetRewrite rewrite(const CellEditor& editor, DeflatedFile& output) {
    editor_ = &editor;
    output_ = &output;
    run();
    flush(std::numeric_limits<int64_t>::max());
    output.finish();
    return result_;
  }

  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name == "sheetData") {
      inSheetData_ = true;
    } else if (name == "sheetProtection" && !inSheetData_) {
      refuseProtected(attributes);
    } else if (!inSheetData_) {
      return;
    } else if (name == "row") {
      startRow(attributes);
    } else if (name == "c") {
      startCell(attributes);
    } else if (!inCell_) {
      return;
    } else if (name == "v") {
      inValue_ = true;
    } else if (name == "f") {
      startFormula(attributes);
    } else if (name == "rPh") {
      ++phonetic_;
    } else if (name == "t" && phonetic_ == 0) {
      inText_ = true;
    }
  }

  void end(std::string_view name) override {
    if (name == "sheetData") {
      inSheetData_ = false;
    } else if (!inCell_) {
      return;
    } else if (name == "c") {
      endCell();
    } else if (name == "v") {
      inValue_ = false;
    } else if (name == "f") {
      inFormula_ = false;
      formulaEnd_ = std::max(formulaTagEnd_, parser_->eventOffset() + parser_->eventLength());
    } else if (name == "rPh") {
      --phonetic_;
    } else if (name == "t") {
      inText_ = false;
    }
  }

  void text(std::string_view chars) override {
    if (inValue_) raw_.append(chars);
    if (inFormula_) formula_.append(chars);
    if (inText_) inline_.append(chars);
  }

 private:
  void run() {
    XmlParser parser(*this, where_);
    parser_ = &parser;
    book_.package().read(*part_, [&](std::string_view chunk) {
      if (output_ != nullptr) pending_.append(chunk);
      parser.feed(chunk, false);
      if (output_ != nullptr) flushSafe();
    });
    parser.feed({}, true);
    parser_ = nullptr;
  }

  // Excel refuses to change the cells of a protected sheet; so does qmv, rather than
  // write past the protection.
  void refuseProtected(const XmlAttributes& attributes) const {
    const char* on = attributes.find("sheet");
    if (on == nullptr) return;
    const std::string_view value(on);
    if (value == "1" || value == "true") {
      throw XlsxError(where_ + " is protected; unprotect it in Excel first");
    }
  }

  [[noreturn]] void outside(std::string_view reference) const {
    throw XlsxError(where_ + ": the cell reference \"" + std::string(reference) +
                    "\" is outside the sheet (1,048,576 rows by 16,384 columns)");
  }

  void startRow(const XmlAttributes& attributes) {
    int64_t row = row_ + 1;
    if (const char* r = attributes.find("r")) {
      const std::string_view text(r);
      const auto result = std::from_chars(text.data(), text.data() + text.size(), row);
      if (result.ec != std::errc() || result.ptr != text.data() + text.size()) outside(text);
    }
    if (row < 1 || row > kMaxRows) outside(std::to_string(row));
    row_ = row;
    column_ = 0;
  }

  CellRef parseReference(std::string_view text) const {
    const std::optional<LeadingColumn> letters = leadingColumnLetters(text);
    if (!letters) outside(text);
    const std::size_t i = letters->length;
    const int64_t column = letters->column;
    int64_t row = 0;
    const auto result = std::from_chars(text.data() + i, text.data() + text.size(), row);
    if (i == 0 || result.ec != std::errc() || result.ptr != text.data() + text.size() || row < 1 ||
        row > kMaxRows) {
      outside(text);
    }
    return {row, column};
  }

  void startFormula(const XmlAttributes& attributes) {
    cell_.formula = true;
    inFormula_ = true;
    formulaStart_ = parser_->eventOffset();
    formulaTagEnd_ = formulaEnd_ = formulaStart_ + parser_->eventLength();
    const char* type = attributes.find("t");
    const std::string_view kind = type == nullptr ? std::string_view() : std::string_view(type);
    const char* ref = attributes.find("ref");
    const char* si = attributes.find("si");
    if (kind == "array" && ref != nullptr) {
      // The other cells of the range hold the formula's results.
      if (const auto areas = qmv::parseReference(toUtf16(ref)); areas && areas->size() == 1) {
        arrays_.push_back(areas->front());
      }
    }
    if (kind == "shared" && si != nullptr) {
      uint32_t index = 0;
      const std::string_view text(si);
      std::from_chars(text.data(), text.data() + text.size(), index);
      shared_ = index;
      if (ref != nullptr) sharedRef_ = ref;
    }
  }

  bool insideArray(CellRef ref) {
    std::erase_if(arrays_, [&](const AreaRef& area) { return area.last.row < ref.row; });
    return std::any_of(arrays_.begin(), arrays_.end(),
                       [&](const AreaRef& area) { return area.contains(ref); });
  }

  // A cleared master of a shared formula hands its formula to the next cell of the group
  // the edits keep; that cell's <f> becomes the master, and a later one outside the new
  // range holds the formula written out. `replaced` tells whether the editor replaced the
  // cell.
  void keepSharedFormula(bool replaced) {
    if (!shared_) return;
    const uint32_t index = *shared_;
    const auto moving = moved_.find(index);
    if (!formula_.empty() && !sharedRef_.empty()) {
      const auto areas = qmv::parseReference(toUtf16(sharedRef_));
      if (replaced && areas && areas->size() == 1) {
        SharedMove move;
        move.master = cell_.ref;
        move.area = areas->front();
        move.text = formula_;
        moved_[index] = std::move(move);
      }
      return;
    }
    if (replaced || moving == moved_.end()) return;
    SharedMove& move = moving->second;
    if (!move.area.contains(cell_.ref)) return;
    const std::string text = escapedFormula(shiftedFormula(
        move.text, cell_.ref.row - move.master.row, cell_.ref.column - move.master.column));
    const std::string p = cell_.prefix.empty() ? std::string() : std::string(cell_.prefix) + ":";
    std::string element;
    if (!move.placed) {
      move.placed = true;
      move.range = {cell_.ref, move.area.last};
      element = "<" + p + "f t=\"shared\" ref=\"" + rangeReference(move.range) + "\" si=\"" +
                std::to_string(index) + "\">" + text + "</" + p + "f>";
    } else if (move.range.contains(cell_.ref)) {
      return;
    } else {
      element = "<" + p + "f>" + text + "</" + p + "f>";
    }
    edits_.push_back({formulaStart_, formulaEnd_, std::move(element)});
    result_.changed = true;
  }

  static std::string rangeReference(const AreaRef& area) {
    if (area.first == area.last) return cellReference(area.first);
    return cellReference(area.first) + ":" + cellReference(area.last);
  }

  static std::string escapedFormula(std::string_view text) {
    std::string out;
    for (const char c : text) {
      if (c == '&') {
        out += "&amp;";
      } else if (c == '<') {
        out += "&lt;";
      } else if (c == '>') {
        out += "&gt;";
      } else {
        out += c;
      }
    }
    return out;
  }

  void startCell(const XmlAttributes& attributes) {
    inCell_ = true;
    cell_ = SheetCell{};
    cell_.sheet = sheet_;
    prefix_ = parser_->elementPrefix();
    cell_.prefix = prefix_;
    shared_.reset();
    sharedRef_.clear();
    raw_.clear();
    problem_.clear();
    formula_.clear();
    inline_.clear();
    phonetic_ = 0;
    if (const char* r = attributes.find("r")) {
      cell_.ref = parseReference(r);
    } else {
      if (row_ == 0 || column_ + 1 > kMaxColumns) outside("(no reference)");
      cell_.ref = {row_, column_ + 1};
    }
    column_ = cell_.ref.column;
    cell_.type = typeOf(attributes.find("t"));
    if (const char* s = attributes.find("s")) {
      uint32_t style = 0;
      const std::string_view text(s);
      std::from_chars(text.data(), text.data() + text.size(), style);
      cell_.style = style;
    }
    cellStart_ = parser_->eventOffset();
    cellStartEnd_ = cellStart_ + parser_->eventLength();
  }

  void endCell() {
    inCell_ = false;
    inValue_ = inFormula_ = inText_ = false;
    const int64_t end = std::max(cellStartEnd_, parser_->eventOffset() + parser_->eventLength());
    cell_.raw = raw_;
    formulaText_ = toUtf16(formula_);
    cell_.formulaText = formulaText_;
    switch (cell_.type) {
      case CellType::SharedString: {
        // An empty <v/> holds no value (other readers show an empty cell); an index that
        // names no string makes the cell unreadable, which matters only to a run that
        // reads it (valueOf says so).
        text_.clear();
        if (raw_.empty()) break;
        std::size_t index = 0;
        const auto result = std::from_chars(raw_.data(), raw_.data() + raw_.size(), index);
        if (result.ec != std::errc() || result.ptr != raw_.data() + raw_.size() ||
            index >= book_.sharedStringCount()) {
          problem_ = "names the shared string \"" + raw_ + "\", which does not exist";
          break;
        }
        text_ = book_.sharedString(index);
        break;
      }
      case CellType::InlineString:
        text_ = decodeStringText(toUtf16(inline_));
        break;
      case CellType::FormulaString:
        text_ = decodeStringText(toUtf16(raw_));
        break;
      default:
        text_.clear();
        break;
    }
    cell_.text = text_;
    cell_.problem = problem_;
    if (!cell_.formula && !arrays_.empty() && insideArray(cell_.ref)) cell_.formula = true;
    if (visitor_ != nullptr) (*visitor_)(cell_);
    if (editor_ != nullptr) {
      auto replacement = (*editor_)(cell_);
      keepSharedFormula(replacement.has_value());
      if (replacement) {
        edits_.push_back({cellStart_, end, std::move(*replacement)});
        result_.changed = true;
        if (cell_.formula) result_.formulasGone.push_back(cell_.ref);
      } else if (cell_.formula) {
        result_.formulasKept = true;
      }
    }
  }

  // Writes what can no longer be part of an edit: everything before the last '<' of the
  // buffer (an unfinished tag starts there at the latest) and before an open cell.
  void flushSafe() {
    int64_t limit = pendingStart_ + static_cast<int64_t>(pending_.size());
    const std::size_t lastTag = pending_.rfind('<');
    if (lastTag != std::string::npos) limit = pendingStart_ + static_cast<int64_t>(lastTag);
    if (inCell_) limit = std::min(limit, cellStart_);
    flush(limit);
  }

  void flush(int64_t limit) {
    int64_t cursor = pendingStart_;
    std::size_t done = 0;
    for (; done < edits_.size() && edits_[done].start < limit; ++done) {
      const Edit& edit = edits_[done];
      output_->write(
          std::string_view(pending_).substr(static_cast<std::size_t>(cursor - pendingStart_),
                                            static_cast<std::size_t>(edit.start - cursor)));
      output_->write(edit.xml);
      cursor = edit.end;
    }
    edits_.erase(edits_.begin(), edits_.begin() + static_cast<std::ptrdiff_t>(done));
    const int64_t available = pendingStart_ + static_cast<int64_t>(pending_.size());
    const int64_t until = std::min(limit, available);
    if (until > cursor) {
      output_->write(
          std::string_view(pending_).substr(static_cast<std::size_t>(cursor - pendingStart_),
                                            static_cast<std::size_t>(until - cursor)));
      cursor = until;
    }
    pending_.erase(0, static_cast<std::size_t>(cursor - pendingStart_));
    pendingStart_ = cursor;
  }

  struct Edit {
    int64_t start;
    int64_t end;
    std::string xml;
  };

  // A shared formula whose master cell went: its text (written for `master`), the group's
  // range, and once placed, the range of the new master.
  struct SharedMove {
    CellRef master;
    AreaRef area;
    std::string text;
    bool placed = false;
    AreaRef range;
  };

  const Workbook& book_;
  std::size_t sheet_;
  std::string where_;
  const PartEntry* part_ = nullptr;
  XmlParser* parser_ = nullptr;
  const CellVisitor* visitor_ = nullptr;
  const CellEditor* editor_ = nullptr;
  DeflatedFile* output_ = nullptr;

  bool inSheetData_ = false;
  bool inCell_ = false;
  bool inValue_ = false;
  bool inFormula_ = false;
  bool inText_ = false;
  int phonetic_ = 0;
  int64_t row_ = 0;
  int64_t column_ = 0;
  SheetCell cell_;
  std::string raw_;
  std::string formula_;
  std::string inline_;
  std::u16string text_;
  std::u16string formulaText_;
  int64_t cellStart_ = 0;
  int64_t cellStartEnd_ = 0;
  std::string prefix_;
  int64_t formulaStart_ = 0;
  int64_t formulaTagEnd_ = 0;
  int64_t formulaEnd_ = 0;
  std::optional<uint32_t> shared_;
  std::string sharedRef_;
  std::vector<AreaRef> arrays_;  ///< array formula ranges not yet passed
  std::map<uint32_t, SharedMove> moved_;

  std::string pending_;
  int64_t pendingStart_ = 0;
  std::vector<Edit> edits_;
  SheetRewrite result_;
  std::string problem_;  ///< why the current cell cannot be read
};

}  // namespace

std::string shiftedFormula(std::string_view formula, int64_t rows, int64_t columns) {
  std::string out;
  std::size_t i = 0;
  while (i < formula.size()) {
    const char c = formula[i];
    if (c == '"' || c == '\'') {
      i = copyQuoted(formula, i, out);
      continue;
    }
    if (c == '[') {  // a structured reference or an external workbook's index
      int depth = 0;
      const std::size_t start = i;
      do {
        depth += formula[i] == '[' ? 1 : formula[i] == ']' ? -1 : 0;
        ++i;
      } while (i < formula.size() && depth > 0);
      out.append(formula.substr(start, i - start));
      continue;
    }
    if (!isNameChar(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < formula.size() && isNameChar(formula[end])) ++end;
    const std::string_view token = formula.substr(i, end - i);
    if (end < formula.size() && formula[end] == '(') {  // a function's name
      out.append(token);
      i = end;
      continue;
    }
    bool valid = true;
    if (const auto cell = movedCell(token, rows, columns, valid)) {
      out += *cell;
      i = end;
      continue;
    }
    if (end < formula.size() && formula[end] == ':') {
      // A whole-column (A:C) or whole-row (1:3) range.
      std::size_t after = end + 1;
      while (after < formula.size() && isNameChar(formula[after])) ++after;
      const std::string_view second = formula.substr(end + 1, after - end - 1);
      const bool byColumn = columnPart(token) && columnPart(second);
      const bool byRow = rowPart(token) && rowPart(second);
      if (byColumn || byRow) {
        const auto first = byColumn ? movedPart(*columnPart(token), columns, true)
                                    : movedPart(*rowPart(token), rows, false);
        const auto last = byColumn ? movedPart(*columnPart(second), columns, true)
                                   : movedPart(*rowPart(second), rows, false);
        out += first && last ? *first + ":" + *last : std::string("#REF!");
        i = after;
        continue;
      }
    }
    // A number with an exponent (1E+3) is one token with its sign.
    if (std::isdigit(static_cast<unsigned char>(token.front())) &&
        (token.back() == 'E' || token.back() == 'e') && end < formula.size() &&
        (formula[end] == '+' || formula[end] == '-')) {
      ++end;
      while (end < formula.size() && std::isdigit(static_cast<unsigned char>(formula[end]))) ++end;
    }
    out.append(formula.substr(i, end - i));
    i = end;
  }
  return out;
}

void streamSheet(const Workbook& book, std::size_t sheet, const CellVisitor& visit) {
  SheetStream(book, sheet).visit(visit);
}

SheetRewrite rewriteSheet(const Workbook& book, std::size_t sheet, const CellEditor& editor,
                          DeflatedFile& output) {
  return SheetStream(book, sheet).rewrite(editor, output);
}

}  // namespace qmv::xlsx
