// Conversions between Excel's cell values as VARIANTs and the add-in's Value.
#pragma once

#include "host/value.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// A cell value as Excel reports it (VT_EMPTY, numbers, VT_BSTR, VT_BOOL, VT_DATE, and
/// VT_ERROR for error values) as the add-in's Value. Other types give a text.
Value toValue(const VARIANT& v);

/// The add-in's Value as a VARIANT Excel stores as that value.
Variant toVariant(const Value& value);

/// The VT_ERROR code Excel uses for a cell error (CVErr).
inline SCODE cellErrorCode(CellError e) {
  return static_cast<SCODE>(0x800A0000u | static_cast<uint32_t>(e));
}

}  // namespace qmv::windows
