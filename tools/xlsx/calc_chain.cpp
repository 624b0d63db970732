#include "tools/xlsx/calc_chain.hpp"

#include <algorithm>
#include <charconv>
#include <vector>

#include "host/text.hpp"
#include "tools/xlsx/package.hpp"
#include "tools/xlsx/xml.hpp"

namespace qmv::xlsx {
namespace {

// A child of the root element: where its bytes lie and the attributes asked for.
struct Element {
  int64_t begin = 0;
  int64_t end = 0;
  std::vector<std::optional<std::string>> values;
};

class Children : public XmlHandler {
 public:
  Children(std::string_view name, std::vector<std::string_view> asked)
      : name_(name), asked_(std::move(asked)) {}

  void start(std::string_view name, const XmlAttributes& attributes) override {
    ++depth_;
    if (depth_ != 2 || name != name_) return;
    Element element;
    element.begin = parser->eventOffset();
    element.end = element.begin + parser->eventLength();
    for (const std::string_view attribute : asked_) {
      const char* value = attributes.find(attribute);
      element.values.push_back(value == nullptr ? std::nullopt : std::optional<std::string>(value));
    }
    elements.push_back(std::move(element));
    open_ = true;
  }
  void end(std::string_view name) override {
    if (depth_ == 2 && open_ && name == name_) {
      // The end of an empty element shares its start tag and has no length of its own.
      elements.back().end =
          std::max(elements.back().end, parser->eventOffset() + parser->eventLength());
      open_ = false;
    }
    --depth_;
  }

  XmlParser* parser = nullptr;
  std::vector<Element> elements;

 private:
  std::string_view name_;
  std::vector<std::string_view> asked_;
  int depth_ = 0;
  bool open_ = false;
};

std::vector<Element> childrenOf(const std::string& xml, const std::string& document,
                                std::string_view name, std::vector<std::string_view> asked) {
  // Elements are cut and attributes added as bytes, which holds for UTF-8 and every other
  // encoding in which ASCII is one byte; UTF-16 and UTF-32 text holds zero bytes.
  if (xml.find('\0') != std::string::npos) {
    throw XlsxError(document + " is not in UTF-8, which is how qmv edits it");
  }
  Children handler(name, std::move(asked));
  XmlParser parser(handler, document);
  handler.parser = &parser;
  parser.feed(xml, true);
  return std::move(handler.elements);
}

// Where the element name of the start tag at `begin` ends, for an added attribute.
std::size_t nameEnd(const std::string& xml, int64_t begin) {
  std::size_t at = static_cast<std::size_t>(begin) + 1;
  while (at < xml.size() && xml[at] != ' ' && xml[at] != '\t' && xml[at] != '\r' &&
         xml[at] != '\n' && xml[at] != '/' && xml[at] != '>') {
    ++at;
  }
  return at;
}

std::optional<uint32_t> sheetIdOf(std::string_view text) {
  uint32_t id = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), id);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return id;
}

std::optional<CellRef> cellOf(const std::string& text) {
  const auto areas = parseReference(toUtf16(text));
  if (!areas || areas->size() != 1 || areas->front().first != areas->front().last) {
    return std::nullopt;
  }
  return areas->front().first;
}

bool isTrue(const std::optional<std::string>& value) {
  return value && (*value == "1" || *value == "true");
}

}  // namespace

// An entry of the chain names a cell that holds a formula: ECMA-376, 18.6.1 c (Cell), "a
// single cell, which shall contain a formula, in the calc chain" (the CalculationCell class
// page, learn.microsoft.com/dotnet/api/documentformat.openxml.spreadsheet.calculationcell).
// Its i, the sheet id, may be left out and is then the previous cell's, and l="1" starts a
// new dependency level; Office reads "previous cell" as the previous c element of the chain
// (learn.microsoft.com/openspecs/office_standards/ms-oe376/24185ad0-2ec5-4c6d-87d2-d3bfdf7b89bf).
// So a removed entry hands both on to the entry after it. The chain holds at least one c
// element (CT_CalcChain, minOccurs="1").
std::optional<std::string> calcChainWithout(const std::string& xml, const std::string& document,
                                            const ChainFilter& gone) {
  const std::vector<Element> entries = childrenOf(xml, document, "c", {"r", "i", "l"});
  std::string out;
  std::size_t cursor = 0;
  std::optional<uint32_t> sheet;    // the i in force in the chain as read
  std::optional<uint32_t> written;  // the i in force in the chain as written
  bool levelPending = false;
  std::size_t kept = 0;
  for (const Element& entry : entries) {
    if (entry.values[1]) sheet = sheetIdOf(*entry.values[1]);
    const bool newLevel = isTrue(entry.values[2]);
    const auto ref = entry.values[0] ? cellOf(*entry.values[0]) : std::nullopt;
    const auto begin = static_cast<std::size_t>(entry.begin);
    if (sheet && ref && gone(*sheet, *ref)) {
      out.append(xml, cursor, begin - cursor);
      cursor = static_cast<std::size_t>(entry.end);
      levelPending = levelPending || newLevel;
      continue;
    }
    ++kept;
    std::string added;
    if (!entry.values[1] && sheet && sheet != written)
      added += " i=\"" + std::to_string(*sheet) + "\"";
    if (levelPending && !entry.values[2]) added += " l=\"1\"";
    levelPending = false;
    written = sheet;
    if (added.empty()) continue;
    const std::size_t at = nameEnd(xml, entry.begin);
    out.append(xml, cursor, at - cursor);
    out += added;
    cursor = at;
  }
  if (kept == 0) return std::nullopt;
  out.append(xml, cursor);
  return out;
}

std::string withoutChildren(const std::string& xml, const std::string& document,
                            std::string_view name, std::string_view attribute,
                            const std::function<bool(std::string_view value)>& drop) {
  std::string out;
  std::size_t cursor = 0;
  for (const Element& element : childrenOf(xml, document, name, {attribute})) {
    if (!element.values[0] || !drop(*element.values[0])) continue;
    out.append(xml, cursor, static_cast<std::size_t>(element.begin) - cursor);
    cursor = static_cast<std::size_t>(element.end);
  }
  out.append(xml, cursor);
  return out;
}

}  // namespace qmv::xlsx
