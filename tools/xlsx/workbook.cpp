#include "tools/xlsx/workbook.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>

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

}  // namespace

// The shared strings, packed: one buffer of the items' UTF-8 text and where each ends.
struct Workbook::Strings : public XmlHandler {
  std::string pool;
  std::vector<uint64_t> ends;
  int runDepth = 0;  // inside a phonetic run, whose text is not the cell's
  bool inText = false;

  void start(std::string_view name, const XmlAttributes&) override {
    if (name == "rPh") ++runDepth;
    if (name == "t" && runDepth == 0) inText = true;
  }
  void end(std::string_view name) override {
    if (name == "rPh") --runDepth;
    if (name == "t") inText = false;
    if (name == "si") ends.push_back(pool.size());
  }
  void text(std::string_view chars) override {
    if (inText) pool.append(chars);
  }
  std::size_t size() const { return ends.size(); }
  std::string_view item(std::size_t i) const {
    const uint64_t begin = i == 0 ? 0 : ends[i - 1];
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
      XmlParser parser(*book->strings_, path + ": " + r.target);
      package.read(part, [&](std::string_view chunk) { parser.feed(chunk, false); });
      parser.feed({}, true);
    } else if (typeIs(r.type, "styles")) {
      StylesReader styles;
      parseXml(styles, path + ": " + r.target,
               package.readAll(requirePart(package, r.target, "styles")));
      for (uint32_t id : styles.formats) {
        const auto custom = std::find_if(styles.custom.begin(), styles.custom.end(),
                                         [&](const auto& entry) { return entry.first == id; });
        book->dateStyles_.push_back(
            isDateFormat(id, custom == styles.custom.end() ? std::string_view() : custom->second));
      }
    }
  }
  return book;
}

std::optional<std::size_t> Workbook::findSheet(std::u16string_view name) const {
  const std::u16string wanted = foldCase(name);
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (foldCase(sheets_[i].name) == wanted) return i;
  }
  return std::nullopt;
}

Value Workbook::valueOf(const SheetCell& cell) const {
  switch (cell.type) {
    case CellType::SharedString:
    case CellType::InlineString:
    case CellType::FormulaString:
      return std::u16string(cell.text);
    case CellType::Boolean:
      return cell.raw == "1" || cell.raw == "true";
    case CellType::Error:
      return parseErrorText(toUtf16(cell.raw)).value_or(CellError::Value);
    case CellType::IsoDate:
      if (cell.raw.empty()) return std::monostate{};
      if (const auto serial = isoDateSerial(cell.raw)) return DateTime{*serial};
      throw XlsxError("cell " + cellReference(cell.ref) + ": \"" + std::string(cell.raw) +
                      "\" is not an ISO 8601 date");
    case CellType::Number:
      break;
  }
  if (cell.raw.empty()) return std::monostate{};
  double number = 0;
  const char* begin = cell.raw.data();
  const char* end = begin + cell.raw.size();
  const auto result = std::from_chars(begin, end, number);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(number)) {
    throw XlsxError("cell " + cellReference(cell.ref) + ": \"" + std::string(cell.raw) +
                    "\" is not a number");
  }
  // Range.Value reports a number in a date format as a Date (Range.Value2 property (Excel):
  // only Value2 does without the Date type).
  if (cell.style && *cell.style < dateStyles_.size() && dateStyles_[*cell.style]) {
    return DateTime{number};
  }
  return number;
}

Value Workbook::storedValue(const Value& value, std::optional<uint32_t> style) const {
  const bool dateFormat = style && *style < dateStyles_.size() && dateStyles_[*style];
  if (const auto* number = std::get_if<double>(&value); number && dateFormat) {
    return DateTime{*number};
  }
  if (const auto* date = std::get_if<DateTime>(&value); date && !dateFormat) return date->serial;
  return value;
}

std::string Workbook::changedCellXml(const SheetCell& cell, std::u16string_view newText) const {
  const Value typed = parseTypedInput(newText, HostLocale{}, currentYear_);
  return cellXml(cell.ref, cell.style, storedValue(typed, cell.style));
}

void Workbook::forEachCell(std::size_t sheet, const CellVisitor& visit) const {
  streamSheet(*this, sheet, visit);
}

std::u16string Workbook::sharedString(std::size_t index) const {
  return decodeStringText(toUtf16(strings_->item(index)));
}

std::size_t Workbook::sharedStringCount() const { return strings_->size(); }

void Workbook::save(const std::string& target, const std::vector<SheetEdit>& edits) const {
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
  for (const SheetEdit& edit : edits) {
    contents.push_back(std::make_unique<TemporaryFile>(target));
    const SheetRewrite rewrite =
        rewriteSheet(*this, edit.sheet, edit.editor, contents.back()->path());
    if (rewrite.changed) {
      replacements.push_back(
          {package_->find(sheets_[edit.sheet].part)->index, contents.back()->path()});
    }
    for (const CellRef ref : rewrite.formulasGone) {
      formulasGone.insert({sheets_[edit.sheet].sheetId, ref.row * (kMaxColumns + 1) + ref.column});
    }
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
        name += lowerAscii(calcChainPart_);
        replace(*types,
                withoutChildren(package_->readAll(*types),
                                package_->path() + ": [Content_Types].xml", "Override", "PartName",
                                [&](std::string_view part) { return lowerAscii(part) == name; }));
      }
    }
  }
  writePackage(package_->path(), target, replacements, removals);
}

}  // namespace qmv::xlsx
