#include "tools/xlsx/workbook.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>

#include "host/ascii.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/xlsx/calc_chain.hpp"
#include "tools/xlsx/sheet.hpp"
#include "tools/xlsx/xml.hpp"

namespace qmv::xlsx {
namespace {

// Relationship types, matched by their last segment so that the transitional and the strict
// namespaces both read.
bool typeIs(std::string_view type, std::string_view last) {
  return type.size() > last.size() && type.ends_with(last) &&
         type[type.size() - last.size() - 1] == '/';
}

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  ///< resolved part name
};

// The folder of a part name, with its trailing slash ("xl/" for "xl/workbook.xml").
std::string folderOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// A relationship target resolved against the folder of its source part; ".." may not climb
// above the package root.
std::string resolveTarget(std::string_view sourcePart, std::string_view target,
                          const std::string& path) {
  std::string joined = !target.empty() && target.front() == '/'
                           ? std::string(target.substr(1))
                           : folderOf(sourcePart) + std::string(target);
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string segment = joined.substr(start, end - start);
    if (segment == "..") {
      if (segments.empty()) {
        throw XlsxError(path + ": the relationship target \"" + std::string(target) +
                        "\" climbs out of the package");
      }
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& segment : segments) {
    if (!out.empty()) out += '/';
    out += segment;
  }
  return out;
}

std::string relationshipsPartOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  const std::string folder = folderOf(part);
  const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return folder + "_rels/" + std::string(file) + ".rels";
}

class RelationshipsReader : public XmlHandler {
 public:
  RelationshipsReader(std::string source, const std::string& path)
      : source_(std::move(source)), path_(path) {}
  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name != "Relationship") return;
    const char* id = attributes.find("Id");
    const char* type = attributes.find("Type");
    const char* target = attributes.find("Target");
    const char* mode = attributes.find("TargetMode");
    if (id == nullptr || type == nullptr || target == nullptr) return;
    if (mode != nullptr && std::string_view(mode) == "External") return;
    found.push_back({id, type, resolveTarget(source_, target, path_)});
  }
  void end(std::string_view) override {}

  std::vector<Relationship> found;

 private:
  std::string source_;
  const std::string& path_;
};

// Streams `part` through `handler`, chunk by chunk, as one document named `document`.
void parsePart(XmlHandler& handler, const Package& package, const PartEntry& part,
               std::string document) {
  XmlParser parser(handler, std::move(document));
  package.read(part, [&](std::string_view chunk) { parser.feed(chunk, false); });
  parser.feed({}, true);
}

const PartEntry& requirePart(const Package& package, const std::string& name,
                             std::string_view what) {
  const PartEntry* part = package.find(name);
  if (part == nullptr) {
    throw XlsxError(package.path() + ": the " + std::string(what) + " part " + name +
                    " is missing");
  }
  return *part;
}

std::vector<Relationship> readRelationships(const Package& package, const std::string& source,
                                            bool required) {
  const std::string name = relationshipsPartOf(source);
  const PartEntry* part = package.find(name);
  if (part == nullptr) {
    if (required) requirePart(package, name, "relationships");
    return {};
  }
  RelationshipsReader reader(source, package.path());
  parseXml(reader, package.path() + ": " + name, package.readAll(*part));
  return std::move(reader.found);
}

struct SheetListing {
  std::u16string name;
  std::string relationship;
  uint32_t sheetId = 0;
};

class WorkbookReader : public XmlHandler {
 public:
  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name == "sheet") {
      const char* sheetName = attributes.find("name");
      const char* id = attributes.find("id", true);
      const char* sheetId = attributes.find("sheetId");
      uint32_t number = 0;
      if (sheetId != nullptr) {
        const std::string_view text(sheetId);
        std::from_chars(text.data(), text.data() + text.size(), number);
      }
      if (sheetName != nullptr && id != nullptr) {
        sheets.push_back({toUtf16(sheetName), id, number});
      }
    } else if (name == "workbookPr") {
      const char* system = attributes.find("date1904");
      date1904 = system != nullptr &&
                 (std::string_view(system) == "1" || std::string_view(system) == "true");
    } else if (name == "workbookView" && !activeSeen) {
      activeSeen = true;
      if (const char* tab = attributes.find("activeTab")) {
        const std::string_view text(tab);
        std::from_chars(text.data(), text.data() + text.size(), activeTab);
      }
    }
  }
  void end(std::string_view) override {}

  std::vector<SheetListing> sheets;
  std::size_t activeTab = 0;
  bool activeSeen = false;
  bool date1904 = false;
};

class StylesReader : public XmlHandler {
 public:
  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name == "numFmt") {
      const char* id = attributes.find("numFmtId");
      const char* code = attributes.find("formatCode");
      if (id != nullptr && code != nullptr) custom.push_back({number(id), code});
    } else if (name == "cellXfs") {
      inCellFormats = true;
    } else if (name == "xf" && inCellFormats) {
      const char* id = attributes.find("numFmtId");
      formats.push_back(id == nullptr ? 0 : number(id));
    }
  }
  void end(std::string_view name) override {
    if (name == "cellXfs") inCellFormats = false;
  }

  static uint32_t number(std::string_view text) {
    uint32_t out = 0;
    std::from_chars(text.data(), text.data() + text.size(), out);
    return out;
  }

  std::vector<std::pair<uint32_t, std::string>> custom;
  std::vector<uint32_t> formats;
  bool inCellFormats = false;
};

std::optional<double> isoDateSerial(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0;
  auto number = [&](std::size_t at, std::size_t length, int& out) {
    if (text.size() < at + length) return false;
    const auto result = std::from_chars(text.data() + at, text.data() + at + length, out);
    return result.ec == std::errc() && result.ptr == text.data() + at + length;
  };
  // A time alone (hh:mm[:ss[.fff]], openpyxl writes a time so) is a fraction of a day.
  if (text.starts_with('T')) text.remove_prefix(1);
  if (text.size() >= 5 && text[2] == ':' && number(0, 2, hour) && number(3, 2, minute)) {
    if (text.size() > 5) {
      const auto result = std::from_chars(text.data() + 6, text.data() + text.size(), second);
      if (text[5] != ':' || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
      }
    }
    if (hour > 23 || minute > 59 || second < 0 || second >= 60) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  }
  if (!number(0, 4, year) || text.size() < 10 || text[4] != '-' || !number(5, 2, month) ||
      text[7] != '-' || !number(8, 2, day) || month < 1 || month > 12 || day < 1 || day > 31) {
    return std::nullopt;
  }
  if (text.size() > 10) {
    if (text[10] != 'T' || !number(11, 2, hour) || text.size() < 16 || text[13] != ':' ||
        !number(14, 2, minute)) {
      return std::nullopt;
    }
    if (text.size() > 16 && text[16] == ':') {
      std::size_t end = 17;
      while (end < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) {
        ++end;
      }
      std::from_chars(text.data() + 17, text.data() + end, second);
    }
  }
  // The host's own reading of a typed date-time (en-US order) gives the serial number.
  const std::string typed = std::to_string(month) + "/" + std::to_string(day) + "/" +
                            std::to_string(year) + " " + std::to_string(hour) + ":" +
                            std::to_string(minute) + ":" +
                            std::to_string(static_cast<int>(std::lround(second)));
  const Value value = parseTypedInput(toUtf16(typed), HostLocale{}, year);
  if (const auto* date = std::get_if<DateTime>(&value)) return date->serial;
  return std::nullopt;
}

// The days between the 1900 and the 1904 date systems' day zero ("Date systems in Excel":
// 1/1/1904 is serial 1462 in the 1900 system and 0 in the 1904 one).
constexpr double k1904Offset = 1462;

// `tag` (a start tag) with the attribute `name` set to `value` (already escaped): replaced
// where the tag has it, added after the element name otherwise.
std::string withAttribute(std::string_view tag, std::string_view name, std::string_view value) {
  for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
    std::size_t i = at + name.size();
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const std::size_t close = tag.find(tag[i], i + 1);
    if (close == std::string_view::npos) break;
    return std::string(tag.substr(0, i + 1)) + std::string(value) + std::string(tag.substr(close));
  }
  const std::size_t nameEnd = tag.find_first_of(" \t\r\n/>", 1);
  return std::string(tag.substr(0, nameEnd)) + " " + std::string(name) + "=\"" +
         std::string(value) + "\"" + std::string(tag.substr(nameEnd));
}

// A text as an attribute value in the _xHHHH_ form string items use: a line feed or tab
// would become a space in an attribute, so they take that form too.
std::string attributeText(std::u16string_view text) {
  std::string out;
  for (const char c : escapeStringText(text)) {
    if (c == '"') {
      out += "&quot;";
    } else if (c == '\n') {
      out += "_x000A_";
    } else if (c == '\t') {
      out += "_x0009_";
    } else {
      out += c;
    }
  }
  return out;
}

// The start tags and extents of the children of one element, in a part held in memory.
// Only direct children named `child` (any name when empty) of the first element named
// `parent` count.
class ChildLocator : public XmlHandler {
 public:
  struct Element {
    std::size_t start = 0;
    std::size_t tagLength = 0;
    std::size_t end = 0;
    std::string name;
  };

  ChildLocator(std::string_view parent, std::string_view child, const std::string& document,
               std::string_view content)
      : parent_(parent), child_(child) {
    XmlParser parser(*this, document);
    parser_ = &parser;
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    do {
      const std::string_view piece = content.substr(0, kChunk);
      content.remove_prefix(piece.size());
      parser.feed(piece, content.empty());
    } while (!content.empty());
  }

  void start(std::string_view name, const XmlAttributes&) override {
    const auto offset = static_cast<std::size_t>(parser_->eventOffset());
    const auto length = static_cast<std::size_t>(parser_->eventLength());
    if (depth_ == 0 && !found && name == parent_) {
      found = true;
      parentTag = {offset, length, offset + length, std::string(name)};
      depth_ = 1;
      return;
    }
    if (depth_ == 0) return;
    if (depth_ == 1 && (child_.empty() || name == child_)) {
      children.push_back({offset, length, offset + length, std::string(name)});
    }
    ++depth_;
  }
  void end(std::string_view) override {
    if (depth_ == 0) return;
    const auto offset = static_cast<std::size_t>(parser_->eventOffset());
    const auto length = static_cast<std::size_t>(parser_->eventLength());
    if (--depth_ == 0) {
      closeAt = std::max(offset, parentTag.end);
      depth_ = -1;  // the parent is done; nothing more is collected
    } else if (depth_ == 1 && !children.empty()) {
      children.back().end = std::max(children.back().end, offset + length);
    }
  }

  bool found = false;
  Element parentTag;
  std::vector<Element> children;
  std::size_t closeAt = 0;  ///< where the parent's end tag starts

 private:
  std::string_view parent_;
  std::string_view child_;
  XmlParser* parser_ = nullptr;
  int depth_ = 0;
};

// A pivot table's location: the cells it fills.
class PivotLocationReader : public XmlHandler {
 public:
  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name != "location") return;
    if (const char* r = attributes.find("ref")) ref = r;
  }
  void end(std::string_view) override {}

  std::string ref;
};

class TableReader : public XmlHandler {
 public:
  void start(std::string_view name, const XmlAttributes& attributes) override {
    if (name == "table") {
      if (const char* r = attributes.find("ref")) ref = r;
      if (const char* rows = attributes.find("headerRowCount"))
        header = std::string_view(rows) != "0";
    } else if (name == "tableColumn") {
      const char* column = attributes.find("name");
      names.push_back(decodeStringText(toUtf16(column == nullptr ? "" : column)));
    }
  }
  void end(std::string_view) override {}

  std::string ref;
  bool header = true;
  std::vector<std::u16string> names;
};

// Whether a worksheet part holds a cell formula.
class FormulaFinder : public XmlHandler {
 public:
  void start(std::string_view name, const XmlAttributes&) override {
    if (name == "f") found = true;
  }
  void end(std::string_view) override {}
  bool found = false;
};

// The formulas of a part that may hold structured references (those with a bracket):
// cell formulas, defined names and a table's column formulas, with the escapes of a
// structured reference (a ' before [ ] # or ') taken out and folded for comparison.
class BracketFormulas : public XmlHandler {
 public:
  explicit BracketFormulas(std::vector<std::u16string>& found) : found_(found) {}
  void start(std::string_view name, const XmlAttributes&) override {
    if (name == "f" || name == "definedName" || name == "calculatedColumnFormula" ||
        name == "totalsRowFormula") {
      inFormula_ = true;
      text_.clear();
    }
  }
  void end(std::string_view) override {
    if (!inFormula_) return;
    inFormula_ = false;
    if (text_.find('[') == std::string::npos) return;
    const std::u16string formula = toUtf16(text_);
    std::u16string plain;
    for (std::size_t i = 0; i < formula.size(); ++i) {
      if (formula[i] == u'\'' && i + 1 < formula.size() &&
          std::u16string_view(u"[]#'").find(formula[i + 1]) != std::u16string_view::npos) {
        ++i;
      }
      plain += formula[i];
    }
    found_.push_back(foldCase(plain));
  }
  void text(std::string_view chars) override {
    if (inFormula_) text_.append(chars);
  }

 private:
  std::vector<std::u16string>& found_;
  bool inFormula_ = false;
  std::string text_;
};

// Whether `formula` (folded) names the column `name` (folded) in a structured reference:
// the name between [ or @ and ], spaces allowed around it.
bool namesColumn(std::u16string_view formula, std::u16string_view name) {
  for (std::size_t at = formula.find(name); at != std::u16string_view::npos;
       at = formula.find(name, at + 1)) {
    std::size_t before = at;
    while (before > 0 && formula[before - 1] == u' ') --before;
    std::size_t after = at + name.size();
    while (after < formula.size() && formula[after] == u' ') ++after;
    if (before > 0 && (formula[before - 1] == u'[' || formula[before - 1] == u'@') &&
        after < formula.size() && formula[after] == u']') {
      return true;
    }
  }
  return false;
}

// How a workbook reads an entry: en-US conventions without a currency, as the package holds
// no custom number formats of ours: "$5" stays the text it is rather than losing its symbol.
const HostLocale& entryLocale() {
  static const HostLocale locale = [] {
    HostLocale noCurrency;
    noCurrency.currencySymbol.clear();
    return noCurrency;
  }();
  return locale;
}

// The built-in number format Excel gives a typed entry in a cell of General format: for a
// number, the one the typing rule gives (a percentage, a grouped number, an exponent);
// for a date or time, the short date for a day with its year, d-mmm for one without, and
// the time formats with or without seconds and AM/PM (ECMA-376 Part 1, 18.8.30 numFmt,
// lists the ids).
std::optional<uint32_t> entryFormat(std::u16string_view typed, const Value& value) {
  while (!typed.empty() && typed.front() == u' ') typed.remove_prefix(1);
  while (!typed.empty() && typed.back() == u' ') typed.remove_suffix(1);
  if (std::holds_alternative<double>(value)) {
    static constexpr std::pair<std::u16string_view, uint32_t> kBuiltIn[] = {
        {u"0%", 9}, {u"0.00%", 10}, {u"#,##0", 3}, {u"#,##0.00", 4}, {u"0.00E+00", 11}};
    const std::u16string code = typeIntoCell(typed, entryLocale(), 2000, u"General").numberFormat;
    for (const auto& [builtIn, id] : kBuiltIn) {
      if (code == builtIn) return id;
    }
    return std::nullopt;
  }
  if (!std::holds_alternative<DateTime>(value)) return std::nullopt;
  const std::size_t colon = typed.find(u':');
  const std::size_t separator = typed.find_first_of(u"/-");
  if (separator == std::u16string_view::npos) {
    const bool seconds = typed.find(u':', colon + 1) != std::u16string_view::npos;
    const std::u16string tail = foldCase(typed.substr(typed.size() >= 2 ? typed.size() - 2 : 0));
    if (tail == u"am" || tail == u"pm") return seconds ? 19 : 18;  // h:mm(:ss) AM/PM
    return seconds ? 21 : 20;                                      // h:mm(:ss)
  }
  if (colon != std::u16string_view::npos) return 22;  // m/d/yyyy h:mm
  const std::u16string_view day = typed.substr(separator + 1);
  return day.find_first_of(u"/-") == std::u16string_view::npos ? 16 : 14;  // d-mmm, m/d/yyyy
}

}  // namespace

// The styles part and the cell formats changedCellXml added to it.
struct Workbook::Styles {
  std::string part;
  std::size_t count = 0;  ///< the cell formats the part lists
  /// Each added format: the format it copies and its number format id.
  std::vector<std::pair<uint32_t, uint32_t>> added;
};

// A table on a worksheet, with the column names changedCellXml gave its header cells.
struct Workbook::Table {
  std::size_t sheet = 0;
  std::string part;
  AreaRef area;
  bool header = true;
  // The names as changedCellXml leaves them, which save writes into the part.
  mutable std::vector<std::u16string> names;
  mutable std::vector<bool> renamed;
};

// The shared strings, packed: one buffer of the items' UTF-8 text and where each ends.
struct Workbook::Strings : public XmlHandler {
  std::string pool;
  // Offsets in 32 bits, half the memory of the index; a larger text is refused.
  std::vector<uint32_t> ends;
  int runDepth = 0;  // inside a phonetic run, whose text is not the cell's
  bool inText = false;

  void start(std::string_view name, const XmlAttributes&) override {
    if (name == "rPh") ++runDepth;
    if (name == "t" && runDepth == 0) inText = true;
  }
  void end(std::string_view name) override {
    if (name == "rPh") --runDepth;
    if (name == "t") inText = false;
    if (name == "si") {
      if (pool.size() > UINT32_MAX)
        throw XlsxError("the shared strings hold more than 4 GiB of text");
      ends.push_back(static_cast<uint32_t>(pool.size()));
    }
  }
  void text(std::string_view chars) override {
    if (inText) pool.append(chars);
  }
  std::size_t size() const { return ends.size(); }
  std::string_view item(std::size_t i) const {
    const uint32_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(pool).substr(begin, ends[i] - begin);
  }
};

Workbook::~Workbook() = default;

std::unique_ptr<Workbook> Workbook::open(const std::string& path, const Limits& limits) {
  std::unique_ptr<Workbook> book(new Workbook());
  book->package_ = Package::open(path, limits);
  const Package& package = *book->package_;

  std::string workbookPart;
  for (const Relationship& r : readRelationships(package, "", true)) {
    if (typeIs(r.type, "officeDocument")) workbookPart = r.target;
  }
  if (workbookPart.empty()) {
    throw XlsxError(path + ": the package names no workbook part (no officeDocument relationship)");
  }
  if (workbookPart.ends_with(".bin")) {
    throw XlsxError(path + ": a binary .xlsb workbook; qmv reads .xlsx and .xlsm workbooks");
  }
  const PartEntry& workbookEntry = requirePart(package, workbookPart, "workbook");

  WorkbookReader listing;
  parseXml(listing, path + ": " + workbookPart, package.readAll(workbookEntry));
  book->date1904_ = listing.date1904;
  const std::vector<Relationship> relationships = readRelationships(package, workbookPart, true);
  for (const SheetListing& sheet : listing.sheets) {
    const auto found =
        std::find_if(relationships.begin(), relationships.end(),
                     [&](const Relationship& r) { return r.id == sheet.relationship; });
    if (found == relationships.end()) {
      throw XlsxError(path + ": the sheet \"" + toUtf8(sheet.name) + "\" names the relationship " +
                      sheet.relationship + ", which is missing");
    }
    const bool worksheet = typeIs(found->type, "worksheet");
    if (worksheet) requirePart(package, found->target, "worksheet");
    book->sheets_.push_back({sheet.name, found->target, worksheet, sheet.sheetId});
  }
  if (book->sheets_.empty()) throw XlsxError(path + ": the workbook lists no sheets");
  book->active_ = listing.activeTab < book->sheets_.size() ? listing.activeTab : 0;

  book->workbookPart_ = workbookPart;
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  book->currentYear_ = static_cast<int>(std::chrono::year_month_day{today}.year());
  book->strings_ = std::make_unique<Strings>();
  for (const Relationship& r : relationships) {
    if (typeIs(r.type, "calcChain") && package.find(r.target) != nullptr) {
      book->calcChainPart_ = r.target;
    }
    if (typeIs(r.type, "sharedStrings")) {
      const PartEntry& part = requirePart(package, r.target, "shared strings");
      // The texts are shorter than the part that holds them: one allocation rather than
      // copies of a growing pool (a workbook's run was a tenth faster), its pages touched
      // only as texts fill them. Capped, since the size is only what the directory declares.
      constexpr uint64_t kMostReserved = uint64_t{256} << 20;
      book->strings_->pool.reserve(static_cast<std::size_t>(std::min(part.size, kMostReserved)));
      parsePart(*book->strings_, package, part, path + ": " + r.target);
    } else if (typeIs(r.type, "styles")) {
      StylesReader styles;
      parseXml(styles, path + ": " + r.target,
               package.readAll(requirePart(package, r.target, "styles")));
      for (uint32_t id : styles.formats) {
        const auto custom = std::find_if(styles.custom.begin(), styles.custom.end(),
                                         [&](const auto& entry) { return entry.first == id; });
        const std::string_view code =
            custom == styles.custom.end() ? std::string_view() : std::string_view(custom->second);
        book->dateStyles_.push_back(isDateFormat(id, code));
        book->numberFormats_.emplace_back(id, code);
        // Built-in 49 is "@", the Text format.
        book->textStyles_.push_back(code.empty() ? id == 49 : code == "@");
        book->generalStyles_.push_back(code.empty() ? id == 0 : asciiLowered(code) == "general");
      }
      book->styles_ = std::make_unique<Styles>();
      book->styles_->part = r.target;
      book->styles_->count = styles.formats.size();
    }
  }
  for (std::size_t i = 0; i < book->sheets_.size(); ++i) {
    if (!book->sheets_[i].worksheet) continue;
    for (const Relationship& r : readRelationships(package, book->sheets_[i].part, false)) {
      const PartEntry* part = package.find(r.target);
      if (typeIs(r.type, "pivotTable") && part != nullptr) {
        PivotLocationReader pivot;
        parseXml(pivot, path + ": " + r.target, package.readAll(*part));
        const auto areas = parseReference(toUtf16(pivot.ref));
        if (!areas || areas->size() != 1) {
          throw XlsxError(path + ": " + r.target +
                          ": a pivot table without a location qmv can read");
        }
        book->pivots_.emplace_back(i, areas->front());
        continue;
      }
      if (!typeIs(r.type, "table") || part == nullptr) continue;
      TableReader table;
      parseXml(table, path + ": " + r.target, package.readAll(*part));
      const auto areas = parseReference(toUtf16(table.ref));
      if (!areas || areas->size() != 1) continue;
      const std::size_t columns = table.names.size();
      book->tables_.push_back({i, r.target, areas->front(), table.header, std::move(table.names),
                               std::vector<bool>(columns, false)});
    }
  }
  return book;
}

bool Workbook::inPivotTable(std::size_t sheet, CellRef ref) const {
  return std::any_of(pivots_.begin(), pivots_.end(), [&](const auto& pivot) {
    return pivot.first == sheet && pivot.second.contains(ref);
  });
}

std::optional<std::size_t> Workbook::findSheet(std::u16string_view name) const {
  const std::u16string wanted = foldCase(name);
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (foldCase(sheets_[i].name) == wanted) return i;
  }
  return std::nullopt;
}

void Workbook::unreadable(const SheetCell& cell, const std::string& reason) const {
  throw XlsxError(package_->path() + ": sheet \"" + toUtf8(sheets_[cell.sheet].name) + "\", cell " +
                  cellReference(cell.ref) + ": " + reason);
}

std::optional<std::u16string_view> Workbook::textOf(const SheetCell& cell) const {
  if (!cell.problem.empty()) return std::nullopt;
  switch (cell.type) {
    case CellType::SharedString:
      // An empty <v/> holds no value rather than an empty text.
      if (cell.raw.empty()) return std::nullopt;
      return cell.text;
    case CellType::InlineString:
    case CellType::FormulaString:
      return cell.text;
    default:
      return std::nullopt;
  }
}

Value Workbook::valueOf(const SheetCell& cell) const {
  if (!cell.problem.empty()) unreadable(cell, std::string(cell.problem));
  if (const std::optional<std::u16string_view> text = textOf(cell)) return std::u16string(*text);
  switch (cell.type) {
    case CellType::SharedString:
    case CellType::InlineString:
    case CellType::FormulaString:
      return std::monostate{};  // a shared string cell with an empty <v/>
    case CellType::Boolean:
      return cell.raw == "1" || cell.raw == "true";
    case CellType::Error:
      return parseErrorText(toUtf16(cell.raw)).value_or(CellError::Value);
    case CellType::IsoDate:
      if (cell.raw.empty()) return std::monostate{};
      if (const auto serial = isoDateSerial(cell.raw)) return DateTime{*serial};
      unreadable(cell, "\"" + std::string(cell.raw) + "\" is not an ISO 8601 date or time");
    case CellType::Number:
      break;
  }
  if (cell.raw.empty()) return std::monostate{};
  double number = 0;
  const char* begin = cell.raw.data();
  const char* end = begin + cell.raw.size();
  const auto result = std::from_chars(begin, end, number);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(number)) {
    unreadable(cell, "\"" + std::string(cell.raw) + "\" is not a number");
  }
  // Range.Value reports a number in a date format as a Date (Range.Value2 property (Excel):
  // only Value2 does without the Date type).
  if (formatIs(cell.style, dateStyles_)) return DateTime{number + (date1904_ ? k1904Offset : 0)};
  return number;
}

std::optional<std::string> Workbook::displayedText(const SheetCell& cell) const {
  // The worksheet shows the Boolean values in capitals (TRUE function, support.microsoft.com).
  if (cell.type == CellType::Boolean) return std::string(cell.raw == "0" ? "FALSE" : "TRUE");
  const Value value = valueOf(cell);
  const auto* date = std::get_if<DateTime>(&value);
  if (date == nullptr) return std::nullopt;
  const uint32_t index = cell.style.value_or(0);
  if (styles_ && index >= styles_->count && index - styles_->count < styles_->added.size()) {
    return dateDisplay(date->serial, styles_->added[index - styles_->count].second, {});
  }
  if (index >= numberFormats_.size()) return std::nullopt;
  return dateDisplay(date->serial, numberFormats_[index].first, numberFormats_[index].second);
}

bool Workbook::formatIs(std::optional<uint32_t> style, const std::vector<bool>& kind) const {
  // A cell without a style attribute has the first cell format.
  const uint32_t index = style.value_or(0);
  if (styles_ && index >= styles_->count && index - styles_->count < styles_->added.size()) {
    // An added format: a built-in date, time or percent format.
    return &kind == &dateStyles_ && isDateFormat(styles_->added[index - styles_->count].second, {});
  }
  return index < kind.size() && kind[index];
}

Value Workbook::storedValue(const Value& value, std::optional<uint32_t> style) const {
  const bool dateFormat = formatIs(style, dateStyles_);
  const double offset = date1904_ ? k1904Offset : 0;
  if (const auto* number = std::get_if<double>(&value); number && dateFormat) {
    return DateTime{*number + offset};
  }
  if (const auto* date = std::get_if<DateTime>(&value); date && !dateFormat) {
    return date->serial - offset;
  }
  return value;
}

Value Workbook::inFileSerials(const Value& value) const {
  const auto* date = std::get_if<DateTime>(&value);
  if (date == nullptr || !date1904_) return value;
  return DateTime{date->serial - k1904Offset};
}

std::optional<uint32_t> Workbook::withNumberFormat(std::optional<uint32_t> style,
                                                   uint32_t id) const {
  if (!styles_ || styles_->count == 0) return style;
  const uint32_t base = style && *style < styles_->count ? *style : 0;
  auto& added = styles_->added;
  const auto found = std::find(added.begin(), added.end(), std::make_pair(base, id));
  const auto index = static_cast<std::size_t>(found - added.begin());
  if (found == added.end()) added.emplace_back(base, id);
  return static_cast<uint32_t>(styles_->count + index);
}

bool Workbook::renamesTableColumn(const SheetCell& cell, std::u16string_view newText) const {
  for (const Table& table : tables_) {
    if (table.sheet != cell.sheet || !table.header || cell.ref.row != table.area.first.row ||
        !table.area.contains(cell.ref)) {
      continue;
    }
    const auto column = static_cast<std::size_t>(cell.ref.column - table.area.first.column);
    if (column >= table.names.size()) continue;
    const std::u16string folded = foldCase(newText);
    for (std::size_t other = 0; other < table.names.size(); ++other) {
      if (newText.empty() || (other != column && foldCase(table.names[other]) == folded)) {
        throw XlsxError(package_->path() + ": cell " + cellReference(cell.ref) +
                        " heads a table column, whose name would become " +
                        (newText.empty() ? std::string("empty")
                                         : "\"" + toUtf8(newText) + "\" like another's") +
                        "; Excel requires a unique name for each column of a table");
      }
    }
    if (!table.renamed[column] && formulasNameColumn(table.names[column])) {
      // Excel renames a column's structured references with its header; formulas that
      // still named the old column would no longer read, and Excel would drop them.
      throw XlsxError(
          package_->path() + ": cell " + cellReference(cell.ref) + " heads the table column \"" +
          toUtf8(table.names[column]) +
          "\", which formulas of the workbook refer to by that name; renaming it here " +
          "would break them (Excel renames them with the header): rename it in " +
          "Excel, or leave the header row out");
    }
    table.names[column] = std::u16string(newText);
    table.renamed[column] = true;
    return true;
  }
  return false;
}

bool Workbook::formulasNameColumn(std::u16string_view name) const {
  if (!bracketFormulas_) {
    // Read once, on the first header a removal changes: every worksheet, the defined
    // names and every table's column formulas.
    bracketFormulas_.emplace();
    BracketFormulas reader(*bracketFormulas_);
    std::vector<std::string> parts{workbookPart_};
    for (const SheetEntry& sheet : sheets_) {
      if (sheet.worksheet) parts.push_back(sheet.part);
    }
    for (const Table& table : tables_) parts.push_back(table.part);
    for (const std::string& path : parts) {
      const PartEntry* part = package_->find(path);
      if (part == nullptr) continue;
      parsePart(reader, *package_, *part, package_->path() + ": " + path);
    }
  }
  const std::u16string folded = foldCase(name);
  return std::any_of(bracketFormulas_->begin(), bracketFormulas_->end(),
                     [&](const std::u16string& formula) { return namesColumn(formula, folded); });
}

std::string Workbook::changedCellXml(const SheetCell& cell, std::u16string_view newText,
                                     bool asText) const {
  return changedCell(cell, newText, asText).xml;
}

Workbook::TypedEntry Workbook::typedEntry(const SheetCell& cell, std::u16string_view newText,
                                          bool asText) const {
  // A table's header row holds text whatever is typed into it; the Text format keeps an
  // entry as typed.
  if (renamesTableColumn(cell, newText)) return {std::u16string(newText), std::nullopt};
  if (asText || formatIs(cell.style, textStyles_)) {
    return {newText.empty() ? Value{} : Value{std::u16string(newText)}, std::nullopt};
  }
  TypedEntry entry{parseTypedInput(newText, entryLocale(), currentYear_), std::nullopt};
  if (formatIs(cell.style, generalStyles_)) entry.format = entryFormat(newText, entry.typed);
  return entry;
}

Workbook::ChangedCell Workbook::changedCell(const SheetCell& cell, std::u16string_view newText,
                                            bool asText) const {
  TypedEntry entry = typedEntry(cell, newText, asText);
  const std::optional<uint32_t> style =
      entry.format ? withNumberFormat(cell.style, *entry.format) : cell.style;
  ChangedCell out;
  if (!std::holds_alternative<double>(entry.typed) &&
      !std::holds_alternative<DateTime>(entry.typed)) {
    // Neither the format nor the date system changes anything else: no copies of a text.
    out.xml = cellXml(cell.ref, style, entry.typed, cell.prefix);
    out.value = std::move(entry.typed);
    return out;
  }
  Value stored = storedValue(entry.typed, style);
  out.xml = cellXml(cell.ref, style, inFileSerials(stored), cell.prefix);
  // An entry format keeps a typed date a date (and a percentage the number it is).
  out.value = entry.format ? std::move(entry.typed) : std::move(stored);
  return out;
}

Value Workbook::changedValue(const SheetCell& cell, std::u16string_view newText,
                             bool asText) const {
  TypedEntry entry = typedEntry(cell, newText, asText);
  if (entry.format) return std::move(entry.typed);
  return storedValue(entry.typed, cell.style);
}

void Workbook::forEachCell(std::size_t sheet, const CellVisitor& visit) const {
  streamSheet(*this, sheet, visit);
}

std::u16string Workbook::sharedString(std::size_t index) const {
  std::u16string text = toUtf16(strings_->item(index));
  // Most items hold no _xHHHH_ form and need no second copy.
  if (text.find(u"_x") == std::u16string::npos) return text;
  return decodeStringText(text);
}

std::size_t Workbook::sharedStringCount() const { return strings_->size(); }

std::string Workbook::withAddedFormats(const std::string& xml) const {
  const std::string where = package_->path() + ": " + styles_->part;
  const ChildLocator formats("cellXfs", "xf", where, xml);
  if (!formats.found || formats.children.size() != styles_->count) {
    throw XlsxError(where + ": the cell formats changed while the workbook was open");
  }
  std::string out = xml.substr(0, formats.parentTag.start);
  const std::string_view parentTag =
      std::string_view(xml).substr(formats.parentTag.start, formats.parentTag.tagLength);
  const std::size_t total = styles_->count + styles_->added.size();
  out += parentTag.find("count") == std::string_view::npos
             ? std::string(parentTag)
             : withAttribute(parentTag, "count", std::to_string(total));
  out.append(xml, formats.parentTag.end, formats.closeAt - formats.parentTag.end);
  for (const auto& [base, id] : styles_->added) {
    // A copy of the cell's own format (font, fill, border, alignment) with the number format
    // Excel gives the entry.
    const ChildLocator::Element& element = formats.children[base];
    const std::string_view tag = std::string_view(xml).substr(element.start, element.tagLength);
    out +=
        withAttribute(withAttribute(tag, "numFmtId", std::to_string(id)), "applyNumberFormat", "1");
    out.append(xml, element.start + element.tagLength,
               element.end - element.start - element.tagLength);
  }
  out.append(xml, formats.closeAt);
  return out;
}

std::string Workbook::withColumnNames(const Table& table, const std::string& xml) const {
  const ChildLocator columns("tableColumns", "tableColumn", package_->path() + ": " + table.part,
                             xml);
  std::string out;
  std::size_t cursor = 0;
  for (std::size_t i = 0; i < columns.children.size() && i < table.names.size(); ++i) {
    if (!table.renamed[i]) continue;
    const ChildLocator::Element& element = columns.children[i];
    out.append(xml, cursor, element.start - cursor);
    out += withAttribute(std::string_view(xml).substr(element.start, element.tagLength), "name",
                         attributeText(table.names[i]));
    cursor = element.start + element.tagLength;
  }
  out.append(xml, cursor);
  return out;
}

bool Workbook::holdsFormulasBeyond(std::span<const std::size_t> known) const {
  // A calculation chain lists formula cells; without one, the worksheets tell.
  if (!calcChainPart_.empty()) return true;
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (std::find(known.begin(), known.end(), i) != known.end()) continue;
    const PartEntry* part = sheets_[i].worksheet ? package_->find(sheets_[i].part) : nullptr;
    if (part == nullptr) continue;
    FormulaFinder finder;
    parsePart(finder, *package_, *part, package_->path() + ": " + sheets_[i].part);
    if (finder.found) return true;
  }
  return false;
}

// The workbook part with fullCalcOnLoad="1" on its <calcPr>, which is added where the
// workbook has none: after the elements the schema puts before it, before those it puts
// after it (CT_Workbook is a sequence, and Excel refuses elements out of order).
std::string Workbook::withFullCalculation(const std::string& xml) const {
  const std::string where = package_->path() + ": " + workbookPart_;
  const ChildLocator children("workbook", "", where, xml);
  if (!children.found) throw XlsxError(where + ": no <workbook> element");
  for (const ChildLocator::Element& child : children.children) {
    if (child.name != "calcPr") continue;
    std::string out = xml.substr(0, child.start);
    out += withAttribute(std::string_view(xml).substr(child.start, child.tagLength),
                         "fullCalcOnLoad", "1");
    out.append(xml, child.start + child.tagLength);
    return out;
  }
  static const std::set<std::string_view> kAfter = {
      "oleSize",       "customWorkbookViews", "pivotCaches",       "smartTagPr", "smartTagTypes",
      "webPublishing", "fileRecoveryPr",      "webPublishObjects", "extLst"};
  std::size_t at = children.closeAt;
  for (const ChildLocator::Element& child : children.children) {
    if (kAfter.contains(child.name)) {
      at = child.start;
      break;
    }
  }
  // The root's prefix, for a part written with one (<x:workbook>).
  const std::string_view root =
      std::string_view(xml).substr(children.parentTag.start + 1, children.parentTag.tagLength);
  const std::size_t colon = root.find(':');
  const std::size_t nameEnd = root.find_first_of(" \t\r\n/>");
  const std::string prefix = colon != std::string_view::npos && colon < nameEnd
                                 ? std::string(root.substr(0, colon + 1))
                                 : std::string();
  return xml.substr(0, at) + "<" + prefix + "calcPr fullCalcOnLoad=\"1\"/>" + xml.substr(at);
}

Workbook::Saved Workbook::save(const std::string& target,
                               const std::vector<SheetEdit>& edits) const {
  std::vector<std::unique_ptr<TemporaryFile>> contents;
  std::vector<PartReplacement> replacements;
  const auto replace = [&](const PartEntry& part, const std::string& content) {
    contents.push_back(std::make_unique<TemporaryFile>(target));
    std::ofstream out(contents.back()->path(), std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) throw writeError(contents.back()->path(), std::strerror(errno));
    replacements.push_back({part.index, contents.back()->path()});
  };
  std::set<std::pair<uint32_t, int64_t>> formulasGone;
  std::vector<std::unique_ptr<DeflatedFile>> sheets;
  bool changed = false, formulasKept = false;
  std::vector<std::size_t> rewritten;  // their rewrite told whether a formula stays
  for (const SheetEdit& edit : edits) {
    rewritten.push_back(edit.sheet);
    sheets.push_back(std::make_unique<DeflatedFile>(target));
    const SheetRewrite rewrite = rewriteSheet(*this, edit.sheet, edit.editor, *sheets.back());
    changed = changed || rewrite.changed;
    formulasKept = formulasKept || rewrite.formulasKept;
    if (rewrite.changed) {
      replacements.push_back(
          {package_->find(sheets_[edit.sheet].part)->index, {}, sheets.back().get()});
    }
    for (const CellRef ref : rewrite.formulasGone) {
      formulasGone.insert({sheets_[edit.sheet].sheetId, ref.row * (kMaxColumns + 1) + ref.column});
    }
  }
  // The editors have run: the cell formats and column names their cells took go in.
  if (styles_ && !styles_->added.empty()) {
    const PartEntry& part = *package_->find(styles_->part);
    replace(part, withAddedFormats(package_->readAll(part)));
  }
  for (const Table& table : tables_) {
    if (std::find(table.renamed.begin(), table.renamed.end(), true) == table.renamed.end()) {
      continue;
    }
    const PartEntry& part = *package_->find(table.part);
    replace(part, withColumnNames(table, package_->readAll(part)));
  }
  std::vector<uint64_t> removals;
  if (!formulasGone.empty() && !calcChainPart_.empty()) {
    const PartEntry& chain = *package_->find(calcChainPart_);
    const auto kept = calcChainWithout(
        package_->readAll(chain), package_->path() + ": " + calcChainPart_,
        [&](uint32_t sheetId, CellRef ref) {
          return formulasGone.contains({sheetId, ref.row * (kMaxColumns + 1) + ref.column});
        });
    if (kept) {
      replace(chain, *kept);
    } else {
      // No formula is left to name: the part goes with its relationship and content type.
      removals.push_back(chain.index);
      const std::string relationships = relationshipsPartOf(workbookPart_);
      const PartEntry& rels = *package_->find(relationships);
      replace(rels,
              withoutChildren(package_->readAll(rels), package_->path() + ": " + relationships,
                              "Relationship", "Type",
                              [](std::string_view type) { return typeIs(type, "calcChain"); }));
      if (const PartEntry* types = package_->find("[Content_Types].xml")) {
        std::string name(1, '/');
        name += asciiLowered(calcChainPart_);
        replace(*types,
                withoutChildren(package_->readAll(*types),
                                package_->path() + ": [Content_Types].xml", "Override", "PartName",
                                [&](std::string_view part) { return asciiLowered(part) == name; }));
      }
    }
  }
  Saved saved;
  if (changed && (formulasKept || holdsFormulasBeyond(rewritten))) {
    const PartEntry& part = *package_->find(workbookPart_);
    replace(part, withFullCalculation(package_->readAll(part)));
    saved.fullCalculation = true;
  }
  writePackage(package_->path(), target, replacements, removals);
  return saved;
}

}  // namespace qmv::xlsx
