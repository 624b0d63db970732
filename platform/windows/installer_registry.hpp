// The add-in's registry entries as Windows Installer authoring: the same table that
// DllRegisterServer writes, turned into WiX <RegistryValue> elements for an MSI.
#pragma once

#include <string>

#include "platform/windows/registration.hpp"

namespace qmv::windows {

/// A WiX include, for the DLL of `bitness` (<Include> ... </Include>), of components that hold
/// one <RegistryValue> per value that registering writes, under root HKMU (the user's hive for
/// a per-user install, the machine's for an all-users one), and one create-and-remove entry per
/// key the add-in owns, so that uninstalling removes each owned key with everything below it.
/// The components, by Id:
///   RegistryOwnView     the class and interface keys and the type library's file key, which
///                       each bitness has in its own registry view (a GUID per bitness);
///   RegistryShared      the ProgIDs and the type library, one key for both views: the same
///                       GUID in both packages, so that Windows Installer counts the products
///                       that install it and removes it with the last of them;
///   AddInKeyPerUser     Excel's add-in key per user (shared, as the above);
///   AddInKeyPerMachine  Excel's add-in key per machine, under the redirected HKLM\Software
///                       (a GUID per bitness).
/// The two add-in key components need the conditions "NOT ALLUSERS" and "ALLUSERS", which the
/// package build sets (wixl writes no component conditions).
/// `fileRef` and `folderRef` are the installer's text for the DLL's full path and its
/// folder (formatted text such as "[#VandrelQMV.dll]"); every other '[' or ']' is escaped
/// so that Windows Installer writes it literally.
std::string wixRegistryInclude(DllBitness bitness, const std::wstring& fileRef,
                               const std::wstring& folderRef);

}  // namespace qmv::windows
