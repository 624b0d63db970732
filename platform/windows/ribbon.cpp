#include "platform/windows/ribbon.hpp"

#include <olectl.h>

#include <array>
#include <cstdint>

#include "addin/addin_module.hpp"
#include "addin/command_table.hpp"
#include "engine/text_rules.hpp"
#include "host/host.hpp"
#include "host/host_error.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/gdi_handles.hpp"
#include "platform/windows/xml_text.hpp"

namespace qmv::windows {

namespace {

// Where each menu command sits on the tab. Captions, tags and the commands themselves come
// from the menu's command table; this table only groups the tags.
struct RibbonGroup {
  std::wstring_view id;
  std::wstring_view label;
  std::wstring_view keytip;  ///< also the first letter of its buttons' keytips
  COLORREF colour;           ///< background of its buttons' pictures
  std::array<std::u16string_view, 4> tags;
};

// clang-format off
constexpr std::array<RibbonGroup, 8> kGroups{{
    {L"grpWizard", L"Wizard", L"W", RGB(0x1F, 0x5F, 0x99), {u"QMV0"}},
    {L"grpCharacters", L"Characters", L"C", RGB(0x2E, 0x7D, 0x32), {u"QMV1", u"QMV2", u"QMV3", u"QMV4"}},
    {L"grpSpaces", L"Spaces", L"S", RGB(0x00, 0x83, 0x8F), {u"QMV5", u"QMV6", u"QMV7"}},
    {L"grpPositions", L"Positions", L"P", RGB(0x6A, 0x1B, 0x9A), {u"QMV8", u"QMV9", u"QMV10", u"QMV11"}},
    {L"grpCase", L"Case", L"A", RGB(0xAD, 0x14, 0x57), {u"QMV12", u"QMV13"}},
    {L"grpValues", L"Values", L"V", RGB(0xC6, 0x28, 0x28), {u"QMV18", u"QMV19", u"QMV20"}},
    {L"grpUndo", L"Undo", L"U", RGB(0x45, 0x5A, 0x64), {u"QMV16"}},
    {L"grpHelp", L"Help", L"H", RGB(0x5D, 0x40, 0x37), {u"QMV21", u"QMV15", u"QMV17"}},
}};
// clang-format on

constexpr wchar_t kNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";
constexpr std::wstring_view kButtonPrefix = L"btn";
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

// Where a tag sits: its group and its position in the group.
struct Placement {
  const RibbonGroup* group = nullptr;
  std::size_t index = 0;
};

Placement placementOf(std::u16string_view tag) {
  for (const RibbonGroup& group : kGroups) {
    for (std::size_t i = 0; i < group.tags.size(); ++i) {
      if (!group.tags[i].empty() && group.tags[i] == tag) return {&group, i};
    }
  }
  return {};
}

std::wstring keytipOf(const Placement& p) {
  return std::wstring(p.group->keytip) + std::to_wstring(p.index + 1);
}

const CommandRow* rowOf(std::u16string_view tag) {
  for (const CommandRow& row : commandTable()) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

// A menu caption as a Ribbon label: the accelerator mark goes (keytips replace it) and a
// doubled mark stays as one literal '&'.
std::wstring withoutAccelerator(std::u16string_view caption) {
  std::wstring out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') out += L'&';
      if (i + 1 < caption.size())
        ++i;
      else
        break;
    }
    out += static_cast<wchar_t>(caption[i]);
  }
  return out;
}

std::wstring button(const CommandRow& row, const Placement& place) {
  const std::wstring label = xmlAttributeText(withoutAccelerator(row.caption));
  // The menu's wizard button runs what the toolbar's button does (its on-action is the
  // toolbar button's tag): it keeps the toolbar's tooltip as its description.
  const bool wizard = row.onAction == surface::kToolbarTag;
  std::wstring xml = L"          <button id=\"" + std::wstring(kButtonPrefix) + toWide(row.tag) +
                     L"\" tag=\"" + toWide(row.tag) + L"\" label=\"" + label + L"\" screentip=\"" +
                     label + L"\"";
  if (wizard) xml += L" supertip=\"" + xmlAttributeText(toWide(surface::kToolbarTooltip)) + L"\"";
  xml += L" keytip=\"" + keytipOf(place) + L"\" size=\"" +
         (place.group->tags[1].empty() ? L"large" : L"normal") + L"\" getImage=\"" +
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
  for (const RibbonGroup& group : kGroups) {
    xml += L"        <group id=\"" + std::wstring(group.id) + L"\" label=\"" +
           std::wstring(group.label) + L"\" keytip=\"Z" + std::wstring(group.keytip) + L"\">\n";
    for (std::size_t i = 0; i < group.tags.size() && !group.tags[i].empty(); ++i) {
      if (const CommandRow* row = rowOf(group.tags[i])) xml += button(*row, {&group, i});
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
  if (buttonId.substr(0, kButtonPrefix.size()) != kButtonPrefix) return {};
  const std::u16string tag = fromWide(buttonId.substr(kButtonPrefix.size()));
  return placementOf(tag).group && rowOf(tag) ? tag : std::u16string();
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
  const std::u16string tag = tagOfButton(controlId);
  if (tag.empty()) throw HostError(host_errors::kInvalidCall, "No Ribbon button has this id");
  // The same command, and the same tolerance of its failure, as a click on the menu.
  if (const CommandRow* row = findCommand(tag)) tolerantAtBoundary([&] { row->command(module); });
  return S_OK;
}

ComPtr<IPictureDisp> ribbonImage(std::u16string_view tag) {
  const Placement place = placementOf(tag);
  if (!place.group || !rowOf(tag)) return {};
  return drawPicture(place.group->colour, keytipOf(place));
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
    UniqueMemoryDc dc(nullptr);
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
