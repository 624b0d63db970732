#include "platform/windows/ribbon.hpp"

#include <olectl.h>

#include <array>
#include <cstdint>

#include "addin/addin_module.hpp"
#include "addin/command_table.hpp"
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
constexpr int kImageSize = 32;

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

std::u16string tagOfControl(IDispatch* control) {
  const std::u16string id = asText(get(control, L"Id"));
  std::u16string tag = tagOfButton(toWide(id));
  if (tag.empty()) throw HostError(host_errors::kInvalidCall, "No Ribbon button has this id");
  return tag;
}

}  // namespace

std::wstring ribbonXml() {
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<customUI xmlns=\"";
  xml += kNamespace;
  xml +=
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
  const auto same = [name](std::wstring_view known) {
    return CompareStringOrdinal(name, -1, known.data(), static_cast<int>(known.size()), TRUE) ==
           CSTR_EQUAL;
  };
  if (same(ribbon_callbacks::kOnAction)) return kDispidOnAction;
  if (same(ribbon_callbacks::kGetImage)) return kDispidGetImage;
  if (same(ribbon_callbacks::kGetCustomUI)) return kDispidGetCustomUI;
  return DISPID_UNKNOWN;
}

bool isRibbonDispid(DISPID id) {
  return id == kDispidOnAction || id == kDispidGetImage || id == kDispidGetCustomUI;
}

HRESULT invokeRibbon(AddinModule& module, DISPID id, DISPPARAMS* params, VARIANT* result) {
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
  IDispatch* control = controlArgument(params);
  const std::u16string tag = tagOfControl(control);
  if (id == kDispidOnAction) {
    // The same command, and the same tolerance of its failure, as a click on the menu.
    if (const CommandRow* row = findCommand(tag)) tolerant([&] { row->command(module); });
    return S_OK;
  }
  if (id != kDispidGetImage) return DISP_E_MEMBERNOTFOUND;
  ComPtr<IPictureDisp> picture = ribbonImage(tag);
  if (!picture) return E_OUTOFMEMORY;
  // Visual Basic-style callbacks return the picture through a second, by-reference
  // argument; COM add-ins return it as the result.
  if (params->cArgs >= 2 && params->rgvarg[0].vt == (VT_VARIANT | VT_BYREF) &&
      params->rgvarg[0].pvarVal) {
    VARIANT* out = params->rgvarg[0].pvarVal;
    VariantClear(out);
    out->vt = VT_DISPATCH;
    out->pdispVal = picture.detach();
  } else if (result) {
    result->vt = VT_DISPATCH;
    result->pdispVal = picture.detach();
  }
  return S_OK;
}

ComPtr<IPictureDisp> ribbonImage(std::u16string_view tag) {
  const Placement place = placementOf(tag);
  if (!place.group || !rowOf(tag)) return {};
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
    UniqueBrush fill(CreateSolidBrush(place.group->colour));
    SelectionRestorer withFill(dc.get(), fill.get());
    SelectionRestorer noEdge(dc.get(), GetStockObject(NULL_PEN));
    RoundRect(dc.get(), 0, 0, kImageSize + 1, kImageSize + 1, 10, 10);
    UniqueFont font(CreateFontW(-13, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                DEFAULT_PITCH, L"Tahoma"));
    SelectionRestorer withFont(dc.get(), font.get());
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), RGB(0xFF, 0xFF, 0xFF));
    std::wstring glyph = keytipOf(place);
    RECT box{0, 0, kImageSize, kImageSize};
    DrawTextW(dc.get(), glyph.data(), static_cast<int>(glyph.size()), &box,
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

}  // namespace qmv::windows
