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

TEST(InstallerRegistryTest, EveryRegisteredValueAndOwnedKeyOnce) {
  struct Row {
    const char* name;
    DllBitness bitness;
    const char* platformKey;
    const char* otherKey;
  };
  const Row rows[] = {{"64-bit", DllBitness::Bits64, "\\0\\win64\"", "\\0\\win32\""},
                      {"32-bit", DllBitness::Bits32, "\\0\\win32\"", "\\0\\win64\""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string xml = wixRegistryInclude(row.bitness, L"[#Dll]", L"[Folder]");
    std::size_t values = 0;
    for (const RegistryKey& key : registrationKeys(L"X", L"Y", row.bitness)) {
      values += key.values.size();
    }
    EXPECT_EQ(count(xml, "<RegistryValue "), values + ownedKeys().size());
    EXPECT_EQ(count(xml, "Root=\"HKMU\""), values + ownedKeys().size());
    EXPECT_EQ(count(xml, "Name=\"*\""), ownedKeys().size());
    for (const std::wstring& owned : ownedKeys()) {
      SCOPED_TRACE(narrow(owned));
      EXPECT_EQ(count(xml, "Key=\"" + narrow(owned) + "\" Name=\"*\""), 1u);
    }
    // The two class servers and the type library name the installed DLL; HELPDIR its folder.
    EXPECT_EQ(count(xml, "Value=\"[#Dll]\""), 3u);
    EXPECT_EQ(count(xml, "Value=\"[Folder]\""), 1u);
    EXPECT_EQ(count(xml, row.platformKey), 1u);
    EXPECT_EQ(count(xml, row.otherKey), 0u);
    EXPECT_EQ(count(xml, "Name=\"LoadBehavior\" Type=\"integer\" Value=\"3\""), 1u);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("</Include>"), std::string::npos);
  }
}

}  // namespace
}  // namespace qmv::windows
