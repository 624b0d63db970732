#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/click_events.hpp"
#include "platform/windows/column_index.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// XlAutoFilterOperator values Range.AutoFilter takes back as Filter.Operator gave them,
// with the criteria Filter.Criteria1 and Criteria2 read: top and bottom items and percent
// (3 to 6) and dynamic filters (11) with a number; colours, icons and "no fill" (8 to 10,
// 12 to 14) name what a criterion cannot carry.
constexpr int32_t kXlTop10Items = 3;
constexpr int32_t kXlBottom10Percent = 6;
constexpr int32_t kXlFilterDynamic = 11;

bool restorable(const ColumnFilter& filter) {
  switch (filter.op) {
    case 0:
      return filter.criteria1 && !filter.criteria2;
    case xl::kFilterAnd:
    case xl::kFilterOr:
    case kXlFilterDynamic:
      return filter.criteria1.has_value();
    case xl::kFilterValues:
      return filter.criteria1 || filter.criteria2;
    default:
      return filter.op >= kXlTop10Items && filter.op <= kXlBottom10Percent && filter.criteria1;
  }
}

// A criterion as Filter.Criteria1 or Criteria2 gives it: a value, or a list of values (a
// one-dimensional array); none when Empty. An object (a colour or an icon) is no value.
std::optional<FilterCriterion> criterionOf(const Variant& v) {
  const VARIANT& raw = v.get();
  if (raw.vt == VT_EMPTY) return std::nullopt;
  if (raw.vt == VT_DISPATCH) {
    throw HostError(host_errors::kTypeMismatch, "The criterion is a colour or an icon");
  }
  FilterCriterion out;
  if (!(raw.vt & VT_ARRAY)) {
    out.values.push_back(toValue(raw));
    return out;
  }
  SAFEARRAY* array = (raw.vt & VT_BYREF) ? *raw.pparray : raw.parray;
  if (!array || SafeArrayGetDim(array) != 1) {
    throw HostError(host_errors::kTypeMismatch, "Unexpected criteria");
  }
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  out.list = true;
  for (LONG i = low; i <= high; ++i) {
    Variant element;
    const HRESULT hr = SafeArrayGetElement(array, &i, element.raw());
    if (FAILED(hr)) throwHostError(hr, nullptr, L"SafeArrayGetElement");
    out.values.push_back(toValue(element.get()));
  }
  return out;
}

// A criterion as Range.AutoFilter takes it: its value, or an array of the listed values.
Variant criterionVariant(const FilterCriterion& criterion) {
  if (!criterion.list) return toVariant(criterion.values.front());
  SAFEARRAYBOUND bound{static_cast<ULONG>(criterion.values.size()), 1};
  Variant out;
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  if (!array) throw HostError(host_errors::kInvalidCall, "The criteria cannot be passed");
  out.raw()->vt = VT_ARRAY | VT_VARIANT;
  out.raw()->parray = array;  // owned by `out` from here
  for (std::size_t i = 0; i < criterion.values.size(); ++i) {
    LONG index = static_cast<LONG>(i) + 1;
    Variant element = toVariant(criterion.values[i]);
    const HRESULT hr = SafeArrayPutElement(array, &index, element.raw());
    if (FAILED(hr)) throwHostError(hr, nullptr, L"SafeArrayPutElement");
  }
  return out;
}

class ExcelWorksheet final : public Worksheet {
 public:
  explicit ExcelWorksheet(ComPtr<IDispatch> sheet) : sheet_(std::move(sheet)) {}
  std::u16string name() override { return asText(get(sheet_.get(), L"Name")); }
  void activate() override { call(sheet_.get(), L"Activate"); }
  RangePtr usedRange() override {
    return wrapRange(requiredObject(get(sheet_.get(), L"UsedRange")));
  }
  void showAllData() override { call(sheet_.get(), L"ShowAllData"); }
  // Worksheet.AutoFilterMode tells whether the arrows show; Worksheet.AutoFilter, its
  // Range and Filters (https://learn.microsoft.com/office/vba/api/excel.filters) what each
  // column filters by: Filter.On, Operator, Criteria1 and Criteria2, each read-only, read
  // only while On (the Filters page's example). A colour or icon criterion reads as an
  // object, which no argument of Range.AutoFilter gives back as it was.
  std::optional<AutoFilterState> autoFilter() override {
    if (!asBool(get(sheet_.get(), L"AutoFilterMode"))) return std::nullopt;
    const ComPtr<IDispatch> filter = asObject(get(sheet_.get(), L"AutoFilter"));
    if (!filter) return std::nullopt;
    return filterState(filter.get());
  }
  // A table's filter is ListObject.AutoFilter
  // (https://learn.microsoft.com/office/vba/api/excel.listobject.autofilter), Nothing while
  // the table shows no arrows; Worksheet.AutoFilter is not among them.
  std::vector<AutoFilterState> tableFilters() override {
    std::vector<AutoFilterState> out;
    const ComPtr<IDispatch> tables = requiredObject(get(sheet_.get(), L"ListObjects"));
    const int32_t count = asInt(get(tables.get(), L"Count"));
    for (int32_t i = 1; i <= count; ++i) {
      const ComPtr<IDispatch> table = requiredObject(get(tables.get(), L"Item", {i}));
      const ComPtr<IDispatch> filter = asObject(get(table.get(), L"AutoFilter"));
      if (!filter) continue;
      AutoFilterState state = filterState(filter.get());
      if (!state.filters.empty() || !state.exact) out.push_back(std::move(state));
    }
    return out;
  }
  // Range.AutoFilter over a table's range filters the table, whose arrows always show.
  void applyTableFilter(const AutoFilterState& state) override {
    filterColumns(requiredObject(get(sheet_.get(), L"Range", {formatAddress(state.range)})).get(),
                  state);
  }
  // Range.AutoFilter (https://learn.microsoft.com/office/vba/api/excel.range.autofilter):
  // "If you omit all the arguments, this method simply toggles the display of the AutoFilter
  // drop-down arrows", so it is called bare only while no arrows show; then once per
  // column with Field, Criteria1, Operator and Criteria2 as the column had them.
  void applyAutoFilter(const AutoFilterState& state) override {
    const ComPtr<IDispatch> range =
        requiredObject(get(sheet_.get(), L"Range", {formatAddress(state.range)}));
    if (!asBool(get(sheet_.get(), L"AutoFilterMode"))) call(range.get(), L"AutoFilter");
    filterColumns(range.get(), state);
  }
  RangePtr range(std::u16string_view reference) override {
    return wrapRange(requiredObject(get(sheet_.get(), L"Range", {reference})));
  }

 private:
  // What an AutoFilter object filters by.
  static AutoFilterState filterState(IDispatch* filter) {
    const ComPtr<IDispatch> range = requiredObject(get(filter, L"Range"));
    const std::optional<std::vector<AreaRef>> areas =
        parseReference(asText(get(range.get(), L"Address")));
    if (!areas || areas->size() != 1) {
      throw HostError(host_errors::kTypeMismatch, "The AutoFilter's range cannot be read");
    }
    AutoFilterState state{areas->front(), {}, true};
    const ComPtr<IDispatch> filters = requiredObject(get(filter, L"Filters"));
    const int32_t count = asInt(get(filters.get(), L"Count"));
    for (int32_t i = 1; i <= count; ++i) {
      // A column Excel will not describe may filter: the state is then not exact.
      const std::optional<std::optional<ColumnFilter>> read =
          tolerantGet([&]() -> std::optional<ColumnFilter> {
            const ComPtr<IDispatch> column = requiredObject(get(filters.get(), L"Item", {i}));
            if (!asBool(get(column.get(), L"On"))) return std::nullopt;
            ColumnFilter described{i, asInt(get(column.get(), L"Operator")), {}, {}};
            // Criteria2 is there only for two criteria (or dates picked in the list).
            described.criteria1 = tolerantGet([&] {
                                    return criterionOf(get(column.get(), L"Criteria1"));
                                  }).value_or(std::nullopt);
            described.criteria2 = tolerantGet([&] {
                                    return criterionOf(get(column.get(), L"Criteria2"));
                                  }).value_or(std::nullopt);
            return described;
          });
      if (!read) {
        state.exact = false;
      } else if (*read) {
        if (!restorable(**read)) state.exact = false;
        state.filters.push_back(**read);
      }
    }
    return state;
  }
  // Range.AutoFilter once per column of `state`, over `range`, the filter's range.
  static void filterColumns(IDispatch* range, const AutoFilterState& state) {
    const auto criterion = [](const std::optional<FilterCriterion>& c) {
      return c ? Arg(criterionVariant(*c)) : Arg::omitted();
    };
    for (const ColumnFilter& filter : state.filters) {
      call(range, L"AutoFilter",
           {static_cast<double>(filter.field), criterion(filter.criteria1),
            filter.op != 0 ? Arg(filter.op) : Arg::omitted(), criterion(filter.criteria2)});
    }
  }

  ComPtr<IDispatch> sheet_;
};

}  // namespace

WorksheetPtr wrapWorksheet(ComPtr<IDispatch> sheet) {
  return std::make_shared<ExcelWorksheet>(std::move(sheet));
}

namespace {

class ExcelWorkbook final : public Workbook {
 public:
  explicit ExcelWorkbook(ComPtr<IDispatch> book) : book_(std::move(book)) {}
  std::u16string name() override { return asText(get(book_.get(), L"Name")); }
  void activate() override { call(book_.get(), L"Activate"); }

 private:
  ComPtr<IDispatch> book_;
};

}  // namespace

WorkbookPtr wrapWorkbook(ComPtr<IDispatch> book) {
  return std::make_shared<ExcelWorkbook>(std::move(book));
}

}  // namespace qmv::windows
