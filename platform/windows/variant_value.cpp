#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

bool isCellError(uint32_t code) {
  switch (static_cast<CellError>(code)) {
    case CellError::Null:
    case CellError::Div0:
    case CellError::Value:
    case CellError::Ref:
    case CellError::Name:
    case CellError::Num:
    case CellError::NA:
      return true;
  }
  return false;
}

}  // namespace

Value toValue(const VARIANT& v) {
  if (v.vt & VT_BYREF) {
    Variant deref = Variant::copyOf(v);
    return toValue(deref.get());
  }
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return std::monostate{};
    case VT_BSTR:
      return fromWide(
          std::wstring_view(v.bstrVal ? v.bstrVal : L"", v.bstrVal ? SysStringLen(v.bstrVal) : 0));
    case VT_BOOL:
      return v.boolVal != VARIANT_FALSE;
    case VT_DATE:
      return DateTime{v.date};
    case VT_ERROR: {
      const uint32_t code = static_cast<uint32_t>(v.scode) & 0xFFFFu;
      if (isCellError(code)) return static_cast<CellError>(code);
      return CellError::Value;
    }
    default:
      break;
  }
  Variant number;
  if (SUCCEEDED(VariantChangeType(number.raw(), const_cast<VARIANT*>(&v), 0, VT_R8))) {
    return number.get().dblVal;
  }
  Variant text;
  if (SUCCEEDED(VariantChangeType(text.raw(), const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
    return toValue(text.get());
  }
  return CellError::Value;
}

Variant toVariant(const Value& value) {
  struct Visitor {
    Variant operator()(std::monostate) const { return Variant(); }
    Variant operator()(double d) const { return Variant::fromDouble(d); }
    Variant operator()(const std::u16string& s) const { return Variant::fromText(s); }
    Variant operator()(bool b) const { return Variant::fromBool(b); }
    Variant operator()(DateTime d) const {
      Variant out;
      out.raw()->vt = VT_DATE;
      out.raw()->date = d.serial;
      return out;
    }
    Variant operator()(CellError e) const {
      Variant out;
      out.raw()->vt = VT_ERROR;
      out.raw()->scode = cellErrorCode(e);
      return out;
    }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace qmv::windows
