// The add-in's Ribbon tab: its custom UI XML, built from the menu's command table, and
// the callbacks Office reaches through IDispatch on the add-in object (button clicks and
// the buttons' pictures).
#pragma once

#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/windows/com_support.hpp"

namespace qmv {
class AddinModule;
}

namespace qmv::windows {

/// Office's IRibbonExtensibility: the host asks the add-in for the XML of a ribbon.
inline constexpr GUID kIidRibbonExtensibility = {
    0x000C0396, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// COM interfaces have no virtual destructor: objects go through Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
/// IRibbonExtensibility's one method, after IDispatch's.
struct IRibbonExtensibility : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};
#pragma GCC diagnostic pop

/// The ribbon of an Excel workbook window, the only one the add-in customizes.
inline constexpr std::wstring_view kExcelWorkbookRibbon = L"Microsoft.Excel.Workbook";

/// Names of the callbacks the XML names, as Office looks them up with GetIDsOfNames.
namespace ribbon_callbacks {
inline constexpr std::wstring_view kOnAction = L"OnRibbonAction";
inline constexpr std::wstring_view kGetImage = L"GetRibbonImage";
inline constexpr std::wstring_view kGetCustomUI = L"GetCustomUI";
}  // namespace ribbon_callbacks

/// The custom UI XML (the 2009/07 customui namespace): a tab "Vandrel QMV" whose groups
/// hold every command of the menu once, each button with the menu's caption (without its
/// accelerator mark), a unique id "btn" + the command's tag, a keytip, and the callbacks.
std::wstring ribbonXml();

/// The XML for `ribbonId`: ribbonXml() for an Excel workbook, empty for any other ribbon.
std::wstring customUiFor(std::wstring_view ribbonId);

/// The command tag a button id names ("btnQMV1" -> "QMV1"); empty when it names none.
std::u16string tagOfButton(std::wstring_view buttonId);

/// The DISPID of a Ribbon callback name (case-insensitive), or DISPID_UNKNOWN.
DISPID ribbonDispid(const wchar_t* name);

/// True for the DISPIDs ribbonDispid hands out.
bool isRibbonDispid(DISPID id);

/// Runs a Ribbon callback through IDispatch::Invoke. onAction runs the command of the
/// control's button exactly as a click on the menu button with that tag does (a failing
/// command is skipped); getImage returns the button's picture. Throws HostError for bad
/// arguments or an id that names no button.
HRESULT invokeRibbon(AddinModule& module, DISPID id, DISPPARAMS* params, VARIANT* result);

/// The 32 x 32 picture of the button with `tag`, drawn by the add-in; null when no button
/// has the tag.
ComPtr<IPictureDisp> ribbonImage(std::u16string_view tag);

}  // namespace qmv::windows
