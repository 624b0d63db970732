// A streaming XML reader over expat for the package's parts. Element and attribute names
// come as local names (the namespace is dropped, so prefixed and strict-namespace parts read
// the same; the element's prefix is there for a rewrite to reuse); a document type declaration is
// refused, which rules out entity expansion.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace qmv::xlsx {

/// The attributes of a start tag, as expat gives them (name, value, ..., null).
class XmlAttributes {
 public:
  explicit XmlAttributes(const char** attributes) : attributes_(attributes) {}
  /// The value of the attribute with local name `local`; `qualified` asks for one in a
  /// namespace (such as r:id), otherwise only an attribute without one matches.
  const char* find(std::string_view local, bool qualified = false) const;

 private:
  const char** attributes_;
};

/// What a parser reports.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(std::string_view name, const XmlAttributes& attributes) = 0;
  virtual void end(std::string_view name) = 0;
  virtual void text(std::string_view) {}
};

/// One document fed in chunks. Errors (malformed XML, a handler's exception) surface from
/// `feed` as XlsxError naming `document`, the line and the reason.
class XmlParser {
 public:
  XmlParser(XmlHandler& handler, std::string document);
  ~XmlParser();
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;

  void feed(std::string_view chunk, bool last);
  /// Inside a handler: the stream offset of the current event's first byte and its length
  /// (0 for the end of an empty element, which shares its start tag).
  int64_t eventOffset() const;
  int64_t eventLength() const;
  /// Inside start and end: the namespace prefix of the element's name ("x" for <x:c>),
  /// empty for an element in the default namespace or in none.
  std::string_view elementPrefix() const { return prefix_; }

 private:
  static void onStart(void* self, const char* name, const char** attributes);
  static void onEnd(void* self, const char* name);
  static void onText(void* self, const char* text, int length);
  static void onDoctype(void* self, const char*, const char*, const char*, int);
  void stopWith(std::exception_ptr error);
  /// The local name of an element's expat name; sets prefix_.
  std::string_view elementName(const char* name);

  void* parser_;
  XmlHandler& handler_;
  std::string document_;
  std::exception_ptr error_;
  std::string_view prefix_;
  std::string namespace_;  ///< the last namespace seen, with its separator
};

/// Parses a whole document held in memory.
void parseXml(XmlHandler& handler, const std::string& document, std::string_view content);

}  // namespace qmv::xlsx
