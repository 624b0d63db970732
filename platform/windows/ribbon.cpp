#include "platform/windows/ribbon.hpp"

#include <olectl.h>

#include <array>
#include <cstdint>

#include "addin/addin_module.hpp"
#include "addin/command_table.hpp"
#include "addin/ribbon_table.hpp"
#include "engine/text_rules.hpp"
#include "host/host.hpp"
#include "host/host_error.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/gdi_handles.hpp"
#include "platform/windows/xml_text.hpp"

namespace qmv::windows {

namespace {

constexpr wchar_t kNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";
constexpr DISPID kDispidGetCustomUI = 1;  // IRibbonExtensibility's only method
constexpr DISPID kDispidOnAction = 0x7F000001;
constexpr DISPID kDispidGetImage = 0x7F000002;
constexpr DISPID kDispidOnToggle = 0x7F000003;
constexpr DISPID kDispidGetPressed = 0x7F000004;
constexpr DISPID kDispidOnLoad = 0x7F000005;
constexpr int kImageSize = 32;

// The callbacks by name, as GetIDsOfNames resolves them.
struct Callback {
  std::wstring_view name;
  DISPID id;
};
constexpr std::array<Callback, 6> kCallbacks{{
    {ribbon_callbacks::kOnAction, kDispidOnAction},
    {ribbon_callbacks::kGetImage, kDispidGetImage},
    {ribbon_callbacks::kGetCustomUI, kDispidGetCustomUI},
    {ribbon_callbacks::kOnToggle, kDispidOnToggle},
    {ribbon_callbacks::kGetPressed, kDispidGetPressed},
    {ribbon_callbacks::kOnLoad, kDispidOnLoad},
}};

// The Options group and its one control, the Unicode text toggle.
constexpr COLORREF kOptionsColour = RGB(0x37, 0x47, 0x4F);
constexpr wchar_t kUnicodeGlyph[] = L"\u03A9";  // an omega: letters beyond A-Z
constexpr wchar_t kUnicodeLabel[] = L"Unicode text";
constexpr wchar_t kUnicodeSupertip[] =
    L"Every kind of space, invisible character and letter counts, and an emoji is one "
    L"character. Also the wizard's Unicode box.";

COLORREF colourOf(const RibbonGroup& group) {
  return RGB((group.colour >> 16) & 0xFF, (group.colour >> 8) & 0xFF, group.colour & 0xFF);
}

std::wstring keytipOf(const RibbonPlacement& p) {
  return toWide(p.group->keytip) + std::to_wstring(p.index + 1);
}

std::wstring button(const RibbonPlacement& place) {
  const RibbonControl& control = *place.control;
  const std::wstring label = xmlAttributeText(toWide(ribbonLabel(control)));
  const std::wstring tag = toWide(control.tag);
  // The menu's wizard button runs what the toolbar's button does (its on-action is the
  // toolbar button's tag): it keeps the toolbar's tooltip as its description.
  const CommandRow* row = findCommand(control.tag);
  const bool wizard = !control.command && row && row->onAction == surface::kToolbarTag;
  std::wstring xml = L"          <button id=\"" + toWide(kRibbonButtonPrefix) + tag + L"\" tag=\"" +
                     tag + L"\" label=\"" + label + L"\" screentip=\"" + label + L"\"";
  if (wizard) xml += L" supertip=\"" + xmlAttributeText(toWide(surface::kToolbarTooltip)) + L"\"";
  xml += L" keytip=\"" + keytipOf(place) + L"\" size=\"" +
         (place.group->controls[1].tag.empty() ? L"large" : L"normal") + L"\" getImage=\"" +
         std::wstring(ribbon_callbacks::kGetImage) + L"\" onAction=\"" +
         std::wstring(ribbon_callbacks::kOnAction) + L"\"/>\n";
  return xml;
}

IDispatch* controlArgument(const DISPPARAMS* params) {
  if (!params || params->cArgs < 1) {
    throw HostError(host_errors::kInvalidCall, "A Ribbon callback needs its control");
  }
  // rgvarg holds the arguments last first: the control is the first argument.
  const VARIANT& arg = params->rgvarg[params->cArgs - 1];
  if (arg.vt == VT_DISPATCH && arg.pdispVal) return arg.pdispVal;
  if (arg.vt == (VT_DISPATCH | VT_BYREF) && arg.ppdispVal && *arg.ppdispVal) {
    return *arg.ppdispVal;
  }
  throw HostError(host_errors::kInvalidCall, "A Ribbon callback's control is not an object");
}

// Hands a callback's answer back: Visual Basic-style callbacks return it through a
// by-reference last argument, COM add-ins as the call's result.
void giveBack(DISPPARAMS* params, VARIANT* result, Variant value) {
  if (params->cArgs >= 2 && params->rgvarg[0].vt == (VT_VARIANT | VT_BYREF) &&
      params->rgvarg[0].pvarVal) {
    VARIANT* out = params->rgvarg[0].pvarVal;
    VariantClear(out);
    *out = value.detach();
  } else if (result) {
    *result = value.detach();
  }
}

// Draws a 32 x 32 picture: a rounded square of `colour` with `glyph` in white.
ComPtr<IPictureDisp> drawPicture(COLORREF colour, const std::wstring& glyph);

}  // namespace

std::wstring ribbonXml() {
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<customUI xmlns=\"";
  xml += kNamespace;
  xml += L"\" onLoad=\"" + std::wstring(ribbon_callbacks::kOnLoad) +
         L"\">\n  <ribbon>\n    <tabs>\n      <tab id=\"tabVandrelQMV\" label=\"Vandrel QMV\" "
         L"keytip=\"QM\">\n";
  for (const RibbonGroup& group : ribbonGroups()) {
    xml += L"        <group id=\"" + toWide(group.id) + L"\" label=\"" + toWide(group.label) +
           L"\" keytip=\"Z" + toWide(group.keytip) + L"\">\n";
    for (std::size_t i = 0; i < group.controls.size() && !group.controls[i].tag.empty(); ++i) {
      const RibbonControl& control = group.controls[i];
      if (ribbonCommand(control)) xml += button({&group, i, &control});
    }
    xml += L"        </group>\n";
  }
  xml += L"        <group id=\"grpOptions\" label=\"Options\" keytip=\"ZO\">\n";
  xml += L"          <toggleButton id=\"" + std::wstring(kUnicodeToggleId) + L"\" label=\"" +
         kUnicodeLabel + L"\" screentip=\"" + kUnicodeLabel + L"\" supertip=\"" +
         xmlAttributeText(kUnicodeSupertip) + L"\" keytip=\"O1\" size=\"large\" getImage=\"" +
         std::wstring(ribbon_callbacks::kGetImage) + L"\" getPressed=\"" +
         std::wstring(ribbon_callbacks::kGetPressed) + L"\" onAction=\"" +
         std::wstring(ribbon_callbacks::kOnToggle) + L"\"/>\n";
  xml += L"        </group>\n";
  xml += L"      </tab>\n    </tabs>\n  </ribbon>\n</customUI>\n";
  return xml;
}

std::wstring customUiFor(std::wstring_view ribbonId) {
  return ribbonId == kExcelWorkbookRibbon ? ribbonXml() : std::wstring();
}

std::u16string tagOfButton(std::wstring_view buttonId) {
  const std::wstring prefix = toWide(kRibbonButtonPrefix);
  if (buttonId.substr(0, prefix.size()) != prefix) return {};
  const std::u16string tag = fromWide(buttonId.substr(prefix.size()));
  const RibbonPlacement place = ribbonPlacement(tag);
  return place.control && ribbonCommand(*place.control) ? tag : std::u16string();
}

DISPID ribbonDispid(const wchar_t* name) {
  if (!name) return DISPID_UNKNOWN;
  for (const Callback& callback : kCallbacks) {
    if (CompareStringOrdinal(name, -1, callback.name.data(), static_cast<int>(callback.name.size()),
                             TRUE) == CSTR_EQUAL) {
      return callback.id;
    }
  }
  return DISPID_UNKNOWN;
}

bool isRibbonDispid(DISPID id) {
  for (const Callback& callback : kCallbacks) {
    if (callback.id == id) return true;
  }
  return false;
}

// Office caches what a get callback answered until the add-in invalidates the control
// (https://learn.microsoft.com/office/vba/api/office.iribbonui.invalidatecontrol).
void RibbonUi::settingStored(std::u16string_view name) noexcept {
  if (!ui_ || name != kTextRulesSetting) return;
  tolerantAtBoundary([&] { call(ui_.get(), L"InvalidateControl", {fromWide(kUnicodeToggleId)}); });
}

HRESULT invokeRibbon(AddinModule& module, RibbonUi& ui, DISPID id, DISPPARAMS* params,
                     VARIANT* result) {
  if (result) VariantInit(result);
  if (id == kDispidGetCustomUI) {
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    Variant ribbonId;
    if (FAILED(VariantChangeType(ribbonId.put(), &params->rgvarg[0], 0, VT_BSTR))) {
      return DISP_E_TYPEMISMATCH;
    }
    const VARIANT& text = ribbonId.get();
    const std::wstring xml =
        customUiFor(text.bstrVal ? std::wstring_view(text.bstrVal, SysStringLen(text.bstrVal))
                                 : std::wstring_view());
    if (result) {
      result->vt = VT_BSTR;
      result->bstrVal = Bstr(std::wstring_view(xml)).detach();
    }
    return S_OK;
  }
  // onLoad's one argument is the IRibbonUI itself
  // (https://learn.microsoft.com/office/vba/api/office.iribbonui).
  IDispatch* control = controlArgument(params);
  if (id == kDispidOnLoad) {
    ui.set(ComPtr<IDispatch>(control));
    return S_OK;
  }
  const std::wstring controlId = toWide(asText(get(control, L"Id")));
  if (id == kDispidGetImage) {
    ComPtr<IPictureDisp> picture = ribbonControlImage(controlId);
    if (!picture) throw HostError(host_errors::kInvalidCall, "No Ribbon control has this id");
    Variant out;
    VARIANT* raw = out.put();
    raw->vt = VT_DISPATCH;
    raw->pdispVal = picture.detach();
    giveBack(params, result, std::move(out));
    return S_OK;
  }
  if (id == kDispidGetPressed || id == kDispidOnToggle) {
    if (controlId != kUnicodeToggleId) {
      throw HostError(host_errors::kInvalidCall, "No Ribbon toggle has this id");
    }
    if (id == kDispidGetPressed) {
      const bool unicode =
          module.hostApp && tryTextRulesSetting(*module.hostApp) == TextRules::Unicode;
      giveBack(params, result, Variant::fromBool(unicode));
      return S_OK;
    }
    // A toggle button's onAction takes the control and whether it is now pressed
    // (https://learn.microsoft.com/office/vba/api/office.iribboncontrol).
    if (params->cArgs < 2) return DISP_E_BADPARAMCOUNT;
    Variant pressed;
    if (FAILED(VariantChangeType(pressed.put(), &params->rgvarg[0], 0, VT_BOOL))) {
      return DISP_E_TYPEMISMATCH;
    }
    if (!module.hostApp) throw HostError(host_errors::kObjectNotSet, "The add-in is not connected");
    // Office shows the button as pressed already; a refused write asks it to show the
    // stored state again.
    const TextRules rules =
        pressed.get().boolVal != VARIANT_FALSE ? TextRules::Unicode : TextRules::Classic;
    const bool stored = trySetTextRulesSetting(*module.hostApp, rules);
    ui.settingStored(kTextRulesSetting);
    if (!stored) throw HostError(host_errors::kRefused, "The setting could not be stored");
    return S_OK;
  }
  if (id != kDispidOnAction) return DISP_E_MEMBERNOTFOUND;
  // The same command, and the same tolerance of its failure, as a click on the menu.
  if (!pressRibbonButton(module, fromWide(controlId))) {
    throw HostError(host_errors::kInvalidCall, "No Ribbon button has this id");
  }
  return S_OK;
}

ComPtr<IPictureDisp> ribbonImage(std::u16string_view tag) {
  const RibbonPlacement place = ribbonPlacement(tag);
  if (!place.control || !ribbonCommand(*place.control)) return {};
  return drawPicture(colourOf(*place.group), keytipOf(place));
}

ComPtr<IPictureDisp> ribbonControlImage(std::wstring_view controlId) {
  if (controlId == kUnicodeToggleId) return drawPicture(kOptionsColour, kUnicodeGlyph);
  const std::u16string tag = tagOfButton(controlId);
  return tag.empty() ? ComPtr<IPictureDisp>() : ribbonImage(tag);
}

namespace {

ComPtr<IPictureDisp> drawPicture(COLORREF colour, const std::wstring& glyph) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kImageSize;
  info.bmiHeader.biHeight = -kImageSize;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return {};
  {
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc) return {};
    SelectionRestorer intoBitmap(dc.get(), bitmap.get());
    UniqueBrush fill(CreateSolidBrush(colour));
    SelectionRestorer withFill(dc.get(), fill.get());
    SelectionRestorer noEdge(dc.get(), GetStockObject(NULL_PEN));
    RoundRect(dc.get(), 0, 0, kImageSize + 1, kImageSize + 1, 10, 10);
    UniqueFont font(CreateFontW(-13, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                DEFAULT_PITCH, L"Tahoma"));
    SelectionRestorer withFont(dc.get(), font.get());
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), RGB(0xFF, 0xFF, 0xFF));
    RECT box{0, 0, kImageSize, kImageSize};
    DrawTextW(dc.get(), glyph.c_str(), static_cast<int>(glyph.size()), &box,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  GdiFlush();
  // GDI leaves alpha at zero: the drawn square becomes opaque, the corners stay clear.
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int i = 0; i < kImageSize * kImageSize; ++i) {
    if (pixels[i] != 0) pixels[i] |= 0xFF000000u;
  }
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof(desc);
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = bitmap.get();
  ComPtr<IPictureDisp> picture;
  if (FAILED(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.putVoid()))) {
    return {};
  }
  bitmap.release();  // the picture owns it now
  return picture;
}

}  // namespace

}  // namespace qmv::windows
