// Class, interface and type-library identifiers of the add-in (they match orvik.idl),
// and the Office and Excel identifiers it talks to.
#pragma once

#include <windows.h>

namespace qmv::windows {

/// Type library "Orvik", version 1.0.
inline constexpr GUID kLibId = {
    0xE112FEC0, 0x89B6, 0x4778, {0x9F, 0x38, 0x48, 0x6F, 0x95, 0xEC, 0xF7, 0x2B}};
inline constexpr WORD kLibMajor = 1;
inline constexpr WORD kLibMinor = 0;

/// Class Connect and its default interface _Connect.
inline constexpr GUID kClsidConnect = {
    0x5B78BF42, 0xA4CC, 0x419B, {0x81, 0xA5, 0x7C, 0x8E, 0x1E, 0xE6, 0x43, 0xF1}};
inline constexpr GUID kIidConnect = {
    0x10EC95CB, 0xEE9A, 0x47CD, {0x9D, 0x84, 0x63, 0x83, 0x8E, 0x95, 0x8E, 0x07}};

/// Class cbEvents and its default interface _cbEvents.
inline constexpr GUID kClsidCbEvents = {
    0x7B686BBC, 0x5DBA, 0x406E, {0xAF, 0xEA, 0xC8, 0x9C, 0xD9, 0x80, 0xB9, 0x75}};
inline constexpr GUID kIidCbEvents = {
    0xFCBFF36C, 0xD6E0, 0x4E1E, {0x89, 0xB2, 0x64, 0x25, 0xFE, 0xAB, 0xA5, 0x57}};

/// IDTExtensibility2, the Office add-in connection interface.
inline constexpr GUID kIidDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

/// Office's _CommandBarButtonEvents dispatch interface (Click is DISPID 1).
inline constexpr GUID kDiidCommandBarButtonEvents = {
    0x000C0351, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID kDispidClick = 1;

/// Excel's AppEvents dispatch interface, the Application object's events. SheetChange is
/// DISPID 0x61C in Excel's type library.
inline constexpr GUID kDiidAppEvents = {
    0x00024413, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID kDispidSheetChange = 0x61C;

/// Excel's _Application and Range interfaces (answered by QueryInterface on Excel's objects).
inline constexpr GUID kIidExcelApplication = {
    0x000208D5, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIidExcelRange = {
    0x00020846, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// ProgID of class Connect: the COM add-in as Excel's COMAddIns collection names it.
inline constexpr wchar_t kConnectProgId[] = L"Orvik.Connect";
/// The name by which the add-in asks the host for its own add-ins item.
inline constexpr char16_t kAddInItemName[] = u"Vandrel QMV";

/// Proxy/stub class of automation interfaces (the universal marshaler).
inline constexpr wchar_t kPsOaInterface[] = L"{00020424-0000-0000-C000-000000000046}";

}  // namespace qmv::windows
