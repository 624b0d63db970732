#include "platform/windows/installer_registry.hpp"

#include <variant>
#include <vector>

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
  const bool is64 = bitness == DllBitness::Bits64;
  const std::wstring addinKey = sharedKeys(RegistrationScope::User).back();
  const std::vector<std::wstring> shared = sharedKeys(RegistrationScope::Machine);
  const std::wstring fileKey = typeLibFileKey(bitness);
  enum Part { OwnView, Shared, AddIn };
  const auto partOf = [&](const std::wstring& path) {
    if (path == addinKey) return AddIn;
    if (path.rfind(fileKey, 0) == 0) return OwnView;
    for (const std::wstring& key : shared) {
      if (path == key || path.rfind(key + L"\\", 0) == 0) return Shared;
    }
    return OwnView;
  };

  // The values of one part, the first of them the component's key path.
  const auto values = [&](Part part) {
    std::wstring xml;
    bool keyPath = true;
    for (const RegistryKey& key : registrationKeys(kFileMark, kFolderMark, bitness)) {
      if (partOf(key.path) != part) continue;
      for (const RegistryValue& value : key.values) {
        xml += L"    <RegistryValue Root=\"HKMU\" Key=\"" + attr(key.path) + L"\"";
        if (!value.name.empty()) xml += L" Name=\"" + attr(value.name) + L"\"";
        if (const auto* text = std::get_if<std::wstring>(&value.data)) {
          xml += L" Type=\"string\" Value=\"" + attr(*text) + L"\"";
        } else {
          xml +=
              L" Type=\"integer\" Value=\"" + std::to_wstring(std::get<DWORD>(value.data)) + L"\"";
        }
        if (keyPath) xml += L" KeyPath=\"yes\"";
        keyPath = false;
        xml += L"/>\n";
      }
    }
    // A value named "*" with no data: the key is created on install and removed with
    // everything below it on uninstall (the Registry table's create-and-remove entry).
    std::vector<std::wstring> owned = ownedKeys();
    if (part == OwnView) owned.push_back(fileKey);
    for (const std::wstring& key : owned) {
      if (partOf(key) != part) continue;
      xml += L"    <RegistryValue Root=\"HKMU\" Key=\"" + attr(key) +
             L"\" Name=\"*\" Type=\"string\" Value=\"\"/>\n";
    }
    return xml;
  };
  const auto component = [&](const wchar_t* id, const wchar_t* guid, bool win64, Part part) {
    return std::wstring(L"  <Component Id=\"") + id + L"\" Guid=\"" + guid + L"\" Win64=\"" +
           (win64 ? L"yes" : L"no") + L"\">\n" + values(part) + L"  </Component>\n";
  };

  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n";
  xml += component(
      L"RegistryOwnView",
      is64 ? L"{6A0C3A51-2F4B-4E0D-9C35-0D8B7E5B1A64}" : L"{6A0C3A51-2F4B-4E0D-9C35-0D8B7E5B1A32}",
      is64, OwnView);
  // One GUID in both packages, each writing in its own view: the keys are shared, so both
  // views name the same physical keys, and whichever package installs them first serves both.
  xml += component(L"RegistryShared", L"{0F5D7C2E-8B1A-4C3D-A6E9-5B2F4D8C7A10}", is64, Shared);
  xml += component(L"AddInKeyPerUser", L"{0F5D7C2E-8B1A-4C3D-A6E9-5B2F4D8C7A11}", is64, AddIn);
  xml += component(
      L"AddInKeyPerMachine",
      is64 ? L"{0F5D7C2E-8B1A-4C3D-A6E9-5B2F4D8C7A64}" : L"{0F5D7C2E-8B1A-4C3D-A6E9-5B2F4D8C7A32}",
      is64, AddIn);
  xml += L"</Include>\n";
  return toUtf8(fromWide(xml));
}

}  // namespace qmv::windows
