#include "tools/xlsx/sheet.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

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

// Writes the rewritten part. Owns the stream.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) throw writeError(path, std::strerror(errno));
    std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  ~Output() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void write(std::string_view bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      throw writeError(path_, std::strerror(errno));
    }
  }
  void close() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) throw writeError(path_, std::strerror(errno));
  }

 private:
  std::string path_;
  std::FILE* file_;
};

class SheetStream : public XmlHandler {
 public:
  SheetStream(const Workbook& book, std::size_t sheet)
      : book_(book),
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

  SheetRewrite rewrite(const CellEditor& editor, const std::string& path) {
    editor_ = &editor;
    Output out(path);
    output_ = &out;
    run();
    flush(std::numeric_limits<int64_t>::max());
    out.close();
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
      cell_.formula = true;
      inFormula_ = true;
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
    std::size_t i = 0;
    int64_t column = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
      column = column * 26 + (std::toupper(static_cast<unsigned char>(text[i])) - 'A' + 1);
      if (column > kMaxColumns) outside(text);
      ++i;
    }
    int64_t row = 0;
    const auto result = std::from_chars(text.data() + i, text.data() + text.size(), row);
    if (i == 0 || result.ec != std::errc() || result.ptr != text.data() + text.size() || row < 1 ||
        row > kMaxRows) {
      outside(text);
    }
    return {row, column};
  }

  void startCell(const XmlAttributes& attributes) {
    inCell_ = true;
    cell_ = SheetCell{};
    raw_.clear();
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
        std::size_t index = 0;
        const auto result = std::from_chars(raw_.data(), raw_.data() + raw_.size(), index);
        if (result.ec != std::errc() || result.ptr != raw_.data() + raw_.size() ||
            index >= book_.sharedStringCount()) {
          throw XlsxError(where_ + ": cell " + cellReference(cell_.ref) +
                          " names the shared string \"" + raw_ + "\", which does not exist");
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
    if (visitor_ != nullptr) (*visitor_)(cell_);
    if (editor_ != nullptr) {
      if (auto replacement = (*editor_)(cell_)) {
        edits_.push_back({cellStart_, end, std::move(*replacement)});
        result_.changed = true;
        if (cell_.formula) result_.formulasGone.push_back(cell_.ref);
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

  const Workbook& book_;
  std::string where_;
  const PartEntry* part_ = nullptr;
  XmlParser* parser_ = nullptr;
  const CellVisitor* visitor_ = nullptr;
  const CellEditor* editor_ = nullptr;
  Output* output_ = nullptr;

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

  std::string pending_;
  int64_t pendingStart_ = 0;
  std::vector<Edit> edits_;
  SheetRewrite result_;
};

}  // namespace

void streamSheet(const Workbook& book, std::size_t sheet, const CellVisitor& visit) {
  SheetStream(book, sheet).visit(visit);
}

SheetRewrite rewriteSheet(const Workbook& book, std::size_t sheet, const CellEditor& editor,
                          const std::string& output) {
  return SheetStream(book, sheet).rewrite(editor, output);
}

}  // namespace qmv::xlsx
