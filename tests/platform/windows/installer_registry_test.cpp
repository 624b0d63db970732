// The installer's registry entries come from the registration table: every value that
// registering writes appears once as a WiX RegistryValue, with the installer's references
// in place of the DLL's path and folder, and every owned key once as a create-and-remove
// entry.
#include "platform/windows/installer_registry.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/windows/registration.hpp"

namespace qmv::windows {
namespace {

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// The text of one component of the include, from its opening tag to its end.
std::string componentText(const std::string& xml, const std::string& id) {
  const auto begin = xml.find("<Component Id=\"" + id + "\"");
  if (begin == std::string::npos) return {};
  return xml.substr(begin, xml.find("</Component>", begin) - begin);
}

std::string guidOf(const std::string& component) {
  const auto at = component.find("Guid=\"");
  return at == std::string::npos ? std::string() : component.substr(at + 6, 38);
}

TEST(InstallerRegistryTest, EveryRegisteredValueAndOwnedKeyOnce) {
  struct Row {
    const char* name;
    DllBitness bitness;
    const char* platformKey;
    const char* otherKey;
    const char* win64;
  };
  const Row rows[] = {
      {"64-bit", DllBitness::Bits64, "\\0\\win64\"", "\\0\\win32\"", "Win64=\"yes\""},
      {"32-bit", DllBitness::Bits32, "\\0\\win32\"", "\\0\\win64\"", "Win64=\"no\""}};
  const std::wstring addinKey = sharedKeys(RegistrationScope::User).back();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string xml = wixRegistryInclude(row.bitness, L"[#Dll]", L"[Folder]");
    std::size_t values = 0;
    for (const RegistryKey& key : registrationKeys(L"X", L"Y", row.bitness)) {
      values += key.values.size();
    }
    // Excel's add-in key is written by two components (per user, per machine), and the
    // type library's file key is removed on its own.
    const std::size_t owned = ownedKeys().size() + 2;
    EXPECT_EQ(count(xml, "<RegistryValue "), values + 3 + owned);
    EXPECT_EQ(count(xml, "Root=\"HKMU\""), values + 3 + owned);
    EXPECT_EQ(count(xml, "Name=\"*\""), owned);
    for (const std::wstring& key : ownedKeys()) {
      SCOPED_TRACE(narrow(key));
      EXPECT_EQ(count(xml, "Key=\"" + narrow(key) + "\" Name=\"*\""), key == addinKey ? 2u : 1u);
    }
    // The two class servers and the type library name the installed DLL; HELPDIR its folder.
    EXPECT_EQ(count(xml, "Value=\"[#Dll]\""), 3u);
    EXPECT_EQ(count(xml, "Value=\"[Folder]\""), 1u);
    EXPECT_EQ(count(xml, row.platformKey), 2u);  // its value, and its removal
    EXPECT_EQ(count(xml, row.otherKey), 0u);
    EXPECT_EQ(count(xml, "Name=\"LoadBehavior\" Type=\"integer\" Value=\"3\""), 2u);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("</Include>"), std::string::npos);

    // Each component has one key path and the package's bitness.
    EXPECT_EQ(count(xml, "<Component "), 4u);
    EXPECT_EQ(count(xml, "KeyPath=\"yes\""), 4u);
    EXPECT_EQ(count(xml, row.win64), 4u);
    // The class and interface keys are the view's own; the shared part holds none.
    const std::string own = componentText(xml, "RegistryOwnView");
    const std::string shared = componentText(xml, "RegistryShared");
    EXPECT_NE(own.find("Classes\\CLSID\\"), std::string::npos);
    EXPECT_NE(own.find(row.platformKey), std::string::npos);
    EXPECT_EQ(own.find("Orvik.Connect\\CLSID"), std::string::npos);
    EXPECT_EQ(shared.find("Classes\\CLSID\\"), std::string::npos);
    EXPECT_EQ(shared.find("Interface"), std::string::npos);
    EXPECT_NE(shared.find("Orvik.Connect\\CLSID"), std::string::npos);
    EXPECT_NE(shared.find("TypeLib"), std::string::npos);
  }

  // What both bitnesses share is one component for both packages; the rest is a package's own.
  const std::string x64 = wixRegistryInclude(DllBitness::Bits64, L"[#Dll]", L"[Folder]");
  const std::string x86 = wixRegistryInclude(DllBitness::Bits32, L"[#Dll]", L"[Folder]");
  struct Part {
    const char* id;
    bool sameGuid;
  };
  const Part parts[] = {{"RegistryOwnView", false},
                        {"RegistryShared", true},
                        {"AddInKeyPerUser", true},
                        {"AddInKeyPerMachine", false}};
  for (const Part& part : parts) {
    SCOPED_TRACE(part.id);
    const std::string guid = guidOf(componentText(x64, part.id));
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid == guidOf(componentText(x86, part.id)), part.sameGuid);
  }
}

}  // namespace
}  // namespace qmv::windows
