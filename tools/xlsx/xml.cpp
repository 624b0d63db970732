#include "tools/xlsx/xml.hpp"

#include <expat.h>

#include <cstring>

#include "tools/xlsx/package.hpp"

namespace qmv::xlsx {
namespace {

// Separates a namespace from the local name in the names expat reports.
constexpr char kNamespaceSeparator = '\x1f';

// Names come as "local", "namespace<sep>local" or "namespace<sep>local<sep>prefix" (the
// parser returns the prefix too, so that a rewrite can write new elements as the part's own).
struct NameParts {
  std::string_view local;
  std::string_view prefix;
  bool inNamespace = false;
};

// The part after the local name: an empty view when the name ends there.
NameParts withLocal(const char* local, bool inNamespace) {
  const char* p = local;
  while (*p != '\0' && *p != kNamespaceSeparator) ++p;
  const std::string_view localName(local, static_cast<std::size_t>(p - local));
  if (*p == '\0') return {localName, {}, inNamespace};
  return {localName, std::string_view(p + 1), inNamespace};
}

NameParts partsOf(std::string_view name) {
  const std::size_t first = name.find(kNamespaceSeparator);
  if (first == std::string_view::npos) return {name, {}, false};
  return withLocal(name.data() + first + 1, true);
}

XML_Parser parserOf(void* parser) { return static_cast<XML_Parser>(parser); }

}  // namespace

const char* XmlAttributes::find(std::string_view local, bool qualified) const {
  for (const char** a = attributes_; a[0] != nullptr; a += 2) {
    if (!qualified) {
      // Most lookups are of a plain attribute: compared in place, without measuring names.
      if (std::strncmp(a[0], local.data(), local.size()) == 0 && a[0][local.size()] == '\0') {
        return a[1];
      }
      continue;
    }
    const NameParts name = partsOf(a[0]);
    if (name.inNamespace == qualified && name.local == local) return a[1];
  }
  return nullptr;
}

XmlParser::XmlParser(XmlHandler& handler, std::string document)
    : parser_(XML_ParserCreateNS(nullptr, kNamespaceSeparator)),
      handler_(handler),
      document_(std::move(document)) {
  if (parser_ == nullptr) throw std::bad_alloc();
  XML_Parser parser = parserOf(parser_);
  XML_SetUserData(parser, this);
  XML_SetReturnNSTriplet(parser, XML_TRUE);
  XML_SetElementHandler(parser, &XmlParser::onStart, &XmlParser::onEnd);
  XML_SetCharacterDataHandler(parser, &XmlParser::onText);
  XML_SetStartDoctypeDeclHandler(parser, &XmlParser::onDoctype);
}

XmlParser::~XmlParser() { XML_ParserFree(parserOf(parser_)); }

void XmlParser::stopWith(std::exception_ptr error) {
  if (!error_) error_ = std::move(error);
  XML_StopParser(parserOf(parser_), XML_FALSE);
}

// A part names nearly all its elements in one namespace, a long URI: a name that starts
// with the last one seen is split without measuring the URI again.
std::string_view XmlParser::elementName(const char* name) {
  NameParts parts;
  if (!namespace_.empty() && std::strncmp(name, namespace_.data(), namespace_.size()) == 0) {
    parts = withLocal(name + namespace_.size(), true);
  } else {
    parts = partsOf(name);
    if (parts.inNamespace) {
      namespace_.assign(name, static_cast<std::size_t>(parts.local.data() - name));
    }
  }
  prefix_ = parts.prefix;
  return parts.local;
}

void XmlParser::onStart(void* self, const char* name, const char** attributes) {
  auto* me = static_cast<XmlParser*>(self);
  try {
    me->handler_.start(me->elementName(name), XmlAttributes(attributes));
  } catch (...) {
    me->stopWith(std::current_exception());
  }
}

void XmlParser::onEnd(void* self, const char* name) {
  auto* me = static_cast<XmlParser*>(self);
  try {
    me->handler_.end(me->elementName(name));
  } catch (...) {
    me->stopWith(std::current_exception());
  }
}

void XmlParser::onText(void* self, const char* text, int length) {
  auto* me = static_cast<XmlParser*>(self);
  try {
    me->handler_.text(std::string_view(text, static_cast<std::size_t>(length)));
  } catch (...) {
    me->stopWith(std::current_exception());
  }
}

void XmlParser::onDoctype(void* self, const char*, const char*, const char*, int) {
  auto* me = static_cast<XmlParser*>(self);
  me->stopWith(std::make_exception_ptr(XlsxError(
      me->document_ + ": a document type declaration is not allowed in a workbook part")));
}

void XmlParser::feed(std::string_view chunk, bool last) {
  XML_Parser parser = parserOf(parser_);
  if (error_) std::rethrow_exception(error_);
  // Chunks are at most the reader's buffer size, far below INT_MAX.
  const XML_Status status =
      XML_Parse(parser, chunk.data(), static_cast<int>(chunk.size()), last ? XML_TRUE : XML_FALSE);
  if (error_) std::rethrow_exception(error_);
  if (status != XML_STATUS_OK) {
    throw XlsxError(document_ + ": malformed XML at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
                    XML_ErrorString(XML_GetErrorCode(parser)));
  }
}

int64_t XmlParser::eventOffset() const { return XML_GetCurrentByteIndex(parserOf(parser_)); }
int64_t XmlParser::eventLength() const { return XML_GetCurrentByteCount(parserOf(parser_)); }

void parseXml(XmlHandler& handler, const std::string& document, std::string_view content) {
  XmlParser parser(handler, document);
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  do {
    const std::string_view piece = content.substr(0, kChunk);
    content.remove_prefix(piece.size());
    parser.feed(piece, content.empty());
  } while (!content.empty());
}

}  // namespace qmv::xlsx
