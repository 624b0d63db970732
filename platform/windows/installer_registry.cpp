#include "platform/windows/installer_registry.hpp"

#include <variant>

#include "host/text.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/registration.hpp"
#include "platform/windows/xml_text.hpp"

namespace qmv::windows {

namespace {

// Placeholders that stand for the installer's references until the text is escaped.
constexpr wchar_t kFileMark[] = L"\x1";
constexpr wchar_t kFolderMark[] = L"\x2";

// Text for an XML attribute, with Windows Installer's brackets escaped ("[\[]" is a
// literal '[' in formatted text) and the placeholders replaced by the references.
std::wstring attribute(const std::wstring& text, const std::wstring& fileRef,
                       const std::wstring& folderRef) {
  std::wstring out;
  for (const wchar_t c : xmlAttributeText(text)) {
    if (c == L'[') {
      out += L"[\\[]";
    } else if (c == L']') {
      out += L"[\\]]";
    } else if (c == kFileMark[0]) {
      out += fileRef;
    } else if (c == kFolderMark[0]) {
      out += folderRef;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string wixRegistryInclude(DllBitness bitness, const std::wstring& fileRef,
                               const std::wstring& folderRef) {
  const auto attr = [&](const std::wstring& text) { return attribute(text, fileRef, folderRef); };
  const std::wstring root = L"HKMU";
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n";
  for (const RegistryKey& key : registrationKeys(kFileMark, kFolderMark, bitness)) {
    for (const RegistryValue& value : key.values) {
      xml += L"  <RegistryValue Root=\"" + root + L"\" Key=\"" + attr(key.path) + L"\"";
      if (!value.name.empty()) xml += L" Name=\"" + attr(value.name) + L"\"";
      if (const auto* text = std::get_if<std::wstring>(&value.data)) {
        xml += L" Type=\"string\" Value=\"" + attr(*text) + L"\"/>\n";
      } else {
        xml += L" Type=\"integer\" Value=\"" + std::to_wstring(std::get<DWORD>(value.data)) +
               L"\"/>\n";
      }
    }
  }
  // A value named "*" with no data: the key is created on install and removed with
  // everything below it on uninstall (the Registry table's create-and-remove entry).
  for (const std::wstring& owned : ownedKeys()) {
    xml += L"  <RegistryValue Root=\"" + root + L"\" Key=\"" + attr(owned) +
           L"\" Name=\"*\" Type=\"string\" Value=\"\"/>\n";
  }
  xml += L"</Include>\n";
  return toUtf8(fromWide(xml));
}

}  // namespace qmv::windows
