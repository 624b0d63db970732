// Writes the WiX include of the add-in's registry entries (see installer_registry.hpp) for
// the DLL of one bitness ("x64" or "x86") to a file; the MSI build runs it under Wine.
#include <cstdio>
#include <string>

#include "platform/windows/installer_registry.hpp"

int main(int argc, char** argv) {
  using qmv::windows::DllBitness;
  const std::string arch = argc == 3 ? argv[1] : "";
  if (arch != "x64" && arch != "x86") {
    std::fputs("usage: qmv_registry_wxi x64|x86 OUTPUT.wxi\n", stderr);
    return 2;
  }
  const std::string xml =
      qmv::windows::wixRegistryInclude(arch == "x64" ? DllBitness::Bits64 : DllBitness::Bits32,
                                       L"[#VandrelQMV.dll]", L"[INSTALLFOLDER]");
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const bool written = std::fwrite(xml.data(), 1, xml.size(), out) == xml.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
