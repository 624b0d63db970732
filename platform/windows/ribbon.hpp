// The add-in's Ribbon tab: its custom UI XML, built from the add-in's Ribbon table, and
// the callbacks Office reaches through IDispatch on the add-in object (button clicks, the
// buttons' pictures, the Unicode text toggle, and the tab's loading).
#pragma once

#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

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
inline constexpr std::wstring_view kOnToggle = L"OnRibbonToggle";
inline constexpr std::wstring_view kGetPressed = L"GetRibbonPressed";
inline constexpr std::wstring_view kOnLoad = L"OnRibbonLoad";
}  // namespace ribbon_callbacks

/// The id of the toggle button "Unicode text", which shows and sets the user's stored
/// choice of text rules (engine/text_rules.hpp), as the wizard's "Unicode" box does.
inline constexpr std::wstring_view kUnicodeToggleId = L"tglUnicode";

/// The IRibbonUI object Office hands to the tab's onLoad callback. Office caches what a
/// get callback answered; when a setting changes elsewhere (the wizard's box), the add-in
/// asks it through this object to call the control's callbacks again.
class RibbonUi {
 public:
  /// Keeps `ui` (null forgets the one kept).
  void set(ComPtr<IDispatch> ui) { ui_ = std::move(ui); }
  bool loaded() const { return static_cast<bool>(ui_); }
  /// Asks Office again for the state of the controls that show the add-in setting `name`.
  /// Does nothing before onLoad or for a setting no control shows; a failure of Office is
  /// tolerated (the control then keeps its cached state until the tab is loaded again).
  void settingStored(std::u16string_view name) noexcept;

 private:
  ComPtr<IDispatch> ui_;
};

/// The custom UI XML (the 2009/07 customui namespace): a tab "Vandrel QMV" whose groups
/// hold every command of the menu once, each button with the menu's caption (without its
/// accelerator mark), a unique id "btn" + the command's tag, a keytip, and the callbacks,
/// and a group "Options" with the toggle button kUnicodeToggleId.
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
/// command is skipped); getImage returns the control's picture; the toggle's getPressed
/// returns whether the stored text rules are Unicode and its onAction stores them from
/// its pressed argument; onLoad keeps the IRibbonUI in `ui`. A result is returned as the
/// call's result or, Visual Basic-style, through a by-reference last argument. Throws
/// HostError for bad arguments, an id that names no control of the callback, and a
/// setting the host cannot store.
HRESULT invokeRibbon(AddinModule& module, RibbonUi& ui, DISPID id, DISPPARAMS* params,
                     VARIANT* result);

/// The 32 x 32 picture of the button with `tag`, drawn by the add-in; null when no button
/// has the tag.
ComPtr<IPictureDisp> ribbonImage(std::u16string_view tag);

/// The picture of the control with the Ribbon id `controlId` (a button or the toggle);
/// null when no control has that id.
ComPtr<IPictureDisp> ribbonControlImage(std::wstring_view controlId);

}  // namespace qmv::windows
