// The add-in's registry entries as Windows Installer authoring: the same table that
// DllRegisterServer writes, turned into WiX <RegistryValue> elements for an MSI.
#pragma once

#include <string>

#include "platform/windows/registration.hpp"

namespace qmv::windows {

/// A WiX include, for the DLL of `bitness`, (<Include> ... </Include>) holding one <RegistryValue>
/// per value that registering writes, under root HKMU (the user's hive for a per-user install, the
/// machine's for an all-users one), and one create-and-remove entry per key the add-in
/// owns, so that uninstalling removes each owned key with everything below it.
/// `fileRef` and `folderRef` are the installer's text for the DLL's full path and its
/// folder (formatted text such as "[#VandrelQMV.dll]"); every other '[' or ']' is escaped
/// so that Windows Installer writes it literally.
std::string wixRegistryInclude(DllBitness bitness, const std::wstring& fileRef,
                               const std::wstring& folderRef);

}  // namespace qmv::windows
