// The host interface over Excel's automation objects, tested against the fake Excel.
#include <gtest/gtest.h>

#include "dll_under_test.hpp"
#include "fake_excel.hpp"
#include "host/text.hpp"
#include "platform/windows/click_events.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_host.hpp"

namespace qmv::windows {
namespace {

std::pair<int64_t, int64_t> cellKey(int64_t row, int64_t column) { return {row, column}; }

class ExcelBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(apartment_.result()));
    excel_ = std::make_unique<fake::Excel>();
    app_ = makeExcelApplication(excel_->application.get());
    ASSERT_TRUE(app_);
  }
  void TearDown() override {
    app_.reset();
    excel_.reset();
  }
  ComApartment apartment_;
  std::unique_ptr<fake::Excel> excel_;
  ApplicationPtr app_;
};

TEST_F(ExcelBridgeTest, AnObjectThatIsNotExcelGivesNoApplication) {
  auto other = fake::Object::create(L"Word");
  EXPECT_EQ(makeExcelApplication(other.get()), nullptr);
  EXPECT_EQ(makeExcelApplication(nullptr), nullptr);
}

TEST_F(ExcelBridgeTest, ApplicationSettingsReachExcel) {
  app_->setScreenUpdating(false);
  app_->setCalculation(xl::kCalculationManual);
  app_->setStatusBar(u"Processing...!");
  EXPECT_FALSE(asBool(excel_->application->props[L"ScreenUpdating"]));
  EXPECT_EQ(asInt(excel_->application->props[L"Calculation"]), -4135);
  EXPECT_EQ(fake::text(excel_->application->props[L"StatusBar"]), L"Processing...!");
  // Application.StatusBar: False gives the bar back to Excel; a text, even "", stays shown
  // (https://learn.microsoft.com/office/vba/api/excel.application.statusbar).
  app_->setStatusBar(u"");
  const Variant& reset = excel_->application->props[L"StatusBar"];
  EXPECT_EQ(reset.type(), VT_BOOL);
  EXPECT_FALSE(asBool(reset));
  EXPECT_EQ(app_->workbooksCount(), 1);
  EXPECT_EQ(app_->activeSheet()->name(), u"Sheet1");
}

TEST_F(ExcelBridgeTest, CountIfAsksForALiteralWholeMatch) {
  struct Row {
    const char* name;
    std::u16string text;
    std::u16string criterion;
  };
  const Row rows[] = {
      {"plain", u"abc", u"=abc"},  {"wildcards", u"a*b?c", u"=a~*b~?c"},
      {"tilde", u"x~y", u"=x~~y"}, {"comparison text", u"<5", u"=<5"},
      {"empty", u"", u"="},
  };
  // Two columns: a count the bridge leaves to Excel's COUNTIF.
  RangePtr range = app_->range(u"A1:B3");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->countIfCriteria.clear();
    app_->worksheetFunction().countIf(*range, row.text);
    ASSERT_EQ(excel_->countIfCriteria.size(), 1u);
    EXPECT_EQ(excel_->countIfCriteria[0], row.criterion);
  }
}

TEST_F(ExcelBridgeTest, TextsExcelWouldTakeForFormulasStayText) {
  struct Row {
    const char* name;
    std::u16string written;
    Value stored;
  };
  const Row rows[] = {
      {"minus and letters", u"-abc", Value(u"-abc")},
      {"plus and letters", u"+x1", Value(u"+x1")},
      {"at sign", u"@abc", Value(u"@abc")},
      {"a live formula", u"=HYPERLINK(\"http://x\")", Value(u"=HYPERLINK(\"http://x\")")},
      {"a lone minus", u"-", Value(u"-")},
      {"a negative number converts", u"-12.5", Value(-12.5)},
      {"a signed number converts", u"+7", Value(7.0)},
      {"a plain text", u"abc", Value(u"abc")},
      {"digits convert", u"007", Value(7.0)},
  };
  RangePtr range = app_->range(u"A1:A3");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    range->cell(2, 1)->setValue(Value(row.written));
    const fake::Cell& cell = excel_->cells[cellKey(2, 1)];
    EXPECT_EQ(cell.formula, u"");
    EXPECT_EQ(cell.value, row.stored);
  }
}

TEST_F(ExcelBridgeTest, TypedTextsAreReadInTheUsersConventions) {
  const HostLocale us;
  const HostLocale uk{u'.', u'/', DateOrder::DayMonthYear};
  const HostLocale german{u',', u'.', DateOrder::DayMonthYear};
  struct Row {
    const char* name;
    HostLocale locale;
    std::u16string written;
    Value stored;
  };
  // 3 December 2024 and 12 March 2024 as Excel's serial numbers.
  const DateTime december3{45629}, march12{45363};
  const Row rows[] = {
      {"US date", us, u"03/12/2024", Value(march12)},
      {"British date", uk, u"03/12/2024", Value(december3)},
      {"German date", german, u"03.12.2024", Value(december3)},
      {"German decimal comma", german, u"1,5", Value(1.5)},
      {"British decimal point", uk, u"2.25", Value(2.25)},
      {"British date Excel would keep as text", uk, u"13/12/2024", Value(DateTime{45639})},
      {"German text", german, u"abc", Value(u"abc")},
      {"a leading apostrophe is the text's own", us, u"'n' roll", Value(u"'n' roll")},
      {"a leading apostrophe, German", german, u"'1,5", Value(u"'1,5")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->international = row.locale;
    RangePtr range = app_->range(u"A1:A3");  // a range asks for the conventions once
    range->cell(2, 1)->setValue(Value(row.written));
    const fake::Cell& cell = excel_->cells[cellKey(2, 1)];
    EXPECT_EQ(cell.formula, u"");
    EXPECT_EQ(cell.value, row.stored);
  }
}

TEST_F(ExcelBridgeTest, ATextCellAndTheUsersSeparatorsDecideWhatAResultBecomes) {
  const HostLocale us;
  const HostLocale uk{u'.', u'/', DateOrder::DayMonthYear, u','};
  const HostLocale german{u',', u'.', DateOrder::DayMonthYear, u'.'};
  const HostLocale french{u',', u'/', DateOrder::DayMonthYear, u'\u00A0'};
  const HostLocale frenchNarrow{u',', u'/', DateOrder::DayMonthYear, u'\u202F'};
  const HostLocale swiss{u'.', u'.', DateOrder::DayMonthYear, u'\''};
  const HostLocale swissQuote{u'.', u'.', DateOrder::DayMonthYear, u'\u2019'};
  const HostLocale euro{u',', u'.', DateOrder::DayMonthYear, u'.', u"\u20AC", false};
  const HostLocale francs{u'.', u'.', DateOrder::DayMonthYear, u'\u2019', u"CHF", true};
  struct Row {
    const char* name;
    HostLocale locale;
    std::u16string format;  ///< the cell's NumberFormat before the write
    std::u16string written;
    Value stored;
    std::u16string formatAfter;
  };
  const Row rows[] = {
      {"British date in a Text cell", uk, u"@", u"03/12/2024", Value(u"03/12/2024"), u"@"},
      {"German date in a Text cell", german, u"@", u"03.12.2024", Value(u"03.12.2024"), u"@"},
      {"German decimal in a Text cell", german, u"@", u"3,5", Value(u"3,5"), u"@"},
      {"US digits in a Text cell", us, u"@", u"007", Value(u"007"), u"@"},
      {"German date in a General cell", german, u"General", u"03.12.2024", Value(DateTime{45629}),
       u"m/d/yyyy"},
      {"German percent", german, u"General", u"12,5%", Value(0.125), u"0.00%"},
      {"German grouped number", german, u"General", u"1.234", Value(1234.0), u"#,##0"},
      {"US percent, typed by Excel", us, u"General", u"50%", Value(0.5), u"0%"},
      {"a percent in a cell with a format of its own", german, u"0.0", u"12,5%", Value(0.125),
       u"0.0"},
      {"French 1.234 is no number", french, u"General", u"1.234", Value(u"1.234"), u"General"},
      {"French no-break space groups", french, u"General", u"1\u00A0234,5", Value(1234.5),
       u"#,##0.00"},
      {"French narrow no-break space groups", frenchNarrow, u"General", u"1\u202F234",
       Value(1234.0), u"#,##0"},
      {"French decimal comma", french, u"General", u"1,234", Value(1.234), u"General"},
      {"Swiss apostrophe groups", swiss, u"General", u"1'234.5", Value(1234.5), u"#,##0.00"},
      {"Swiss right single quote groups", swissQuote, u"General", u"1\u2019234", Value(1234.0),
       u"#,##0"},
      {"a Swiss comma is no separator", swiss, u"General", u"1,234", Value(u"1,234"), u"General"},
      {"US dollars, typed by Excel", us, u"General", u"$1,234.50", Value(1234.5), u"\"$\"#,##0.00"},
      {"German euros", euro, u"General", u"12,50 \u20AC", Value(12.5), u"#,##0.00 \"\u20AC\""},
      {"German euros in a Text cell", euro, u"@", u"12,50 \u20AC", Value(u"12,50 \u20AC"), u"@"},
      {"dollars stay text in Germany", euro, u"General", u"$5", Value(u"$5"), u"General"},
      {"Swiss francs", francs, u"General", u"CHF 1\u2019234", Value(1234.0), u"\"CHF\" #,##0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->cells.clear();
    excel_->international = row.locale;
    for (int64_t r = 2; r <= 4; ++r) excel_->cells[cellKey(r, 1)].numberFormat = row.format;
    RangePtr range = app_->range(u"A1:A4");
    range->cell(2, 1)->setValue(Value(row.written));
    const std::vector<Value> block{Value(row.written), Value(row.written)};
    range->setColumnValues(3, 1, block);
    for (int64_t r = 2; r <= 4; ++r) {
      SCOPED_TRACE(r);
      const fake::Cell& cell = excel_->cells[cellKey(r, 1)];
      EXPECT_EQ(cell.formula, u"");
      EXPECT_EQ(cell.value, row.stored);
      EXPECT_EQ(cell.numberFormat, row.formatAfter);
    }
  }
}

TEST_F(ExcelBridgeTest, AColumnOfValuesIsTypedAsEachCellWouldBe) {
  const HostLocale us;
  const HostLocale uk{u'.', u'/', DateOrder::DayMonthYear};
  const HostLocale german{u',', u'.', DateOrder::DayMonthYear};
  struct Row {
    const char* name;
    HostLocale locale;
  };
  const Row rows[] = {{"US", us}, {"British", uk}, {"German", german}};
  const std::vector<Value> values = {Value(u"03/12/2024"),
                                     Value(u"03.12.2024"),
                                     Value(u"1,5"),
                                     Value(u"2.25"),
                                     Value(u"13/12/2024"),
                                     Value(u"'n' roll"),
                                     Value(u"-abc"),
                                     Value(u"007"),
                                     Value(u"TRUE"),
                                     Value(u"abc"),
                                     Value(4.5),
                                     Value(u"=1+1"),
                                     Value(true),
                                     Value(DateTime{45000}),
                                     Value(CellError::Div0),
                                     Value(u"")};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->cells.clear();
    excel_->international = row.locale;
    RangePtr range = app_->range(u"A1:B20");
    for (std::size_t i = 0; i < values.size(); ++i) {
      range->setCellValue(static_cast<int64_t>(i) + 3, 2, values[i]);
    }
    const uint64_t before = fake::invokeCount();
    range->setColumnValues(3, 1, values);
    // Where the user reads a text unlike Excel, the column's NumberFormat is asked once.
    EXPECT_EQ(fake::invokeCount() - before,
              row.locale.decimalSeparator == u'.' && row.locale.dateOrder == DateOrder::MonthDayYear
                  ? 2u
                  : 3u)
        << "Range.Range, the column's NumberFormat where needed and one assignment";
    for (std::size_t i = 0; i < values.size(); ++i) {
      SCOPED_TRACE(i);
      const fake::Cell& one = excel_->cells[cellKey(static_cast<int64_t>(i) + 3, 2)];
      const fake::Cell& block = excel_->cells[cellKey(static_cast<int64_t>(i) + 3, 1)];
      EXPECT_EQ(block.value, one.value);
      EXPECT_EQ(block.formula, one.formula);
    }
    EXPECT_EQ(excel_->cells.count(cellKey(2, 1)), 0u);
    EXPECT_EQ(excel_->cells.count(cellKey(static_cast<int64_t>(values.size()) + 3, 1)), 0u);
  }
}

TEST_F(ExcelBridgeTest, ExcelTakesAnArrayOfTheRangesShapeAsDocumented) {
  struct Row {
    const char* name;
    std::vector<std::u16string> elements;  // one column
    int64_t targetRows;
    bool refused;
    std::vector<Value> stored;  // rows 1 .. targetRows of column A
  };
  const Value na(CellError::NA);
  const Row rows[] = {
      {"same shape", {u"a", u"7"}, 2, false, {Value(u"a"), Value(7.0)}},
      {"a larger range gets #N/A", {u"a"}, 3, false, {Value(u"a"), na, na}},
      {"a smaller range takes what fits", {u"a", u"b", u"c"}, 2, false, {Value(u"a"), Value(u"b")}},
      {"one refused element refuses all", {u"a", u"="}, 2, true, {Value(u"old"), Value(u"old")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->cells.clear();
    for (int64_t r = 1; r <= row.targetRows; ++r) excel_->cells[cellKey(r, 1)].value = u"old";
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(row.elements.size()), 1}, {1, 1}};
    Variant array;
    array.raw()->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    array.raw()->vt = VT_ARRAY | VT_VARIANT;
    for (std::size_t i = 0; i < row.elements.size(); ++i) {
      LONG index[2] = {static_cast<LONG>(i + 1), 1};
      Variant element = Variant::fromText(row.elements[i]);
      SafeArrayPutElement(array.get().parray, index, element.raw());
    }
    auto target = excel_->range(1, 1, row.targetRows, 1);
    bool refused = false;
    try {
      put(target.get(), L"Value", std::move(array));
    } catch (const HostError& error) {
      refused = error.number() == 1004;
    }
    EXPECT_EQ(refused, row.refused);
    for (int64_t r = 1; r <= row.targetRows; ++r) {
      SCOPED_TRACE(r);
      EXPECT_EQ(excel_->cells[cellKey(r, 1)].value, row.stored[static_cast<std::size_t>(r - 1)]);
    }
  }
}

TEST_F(ExcelBridgeTest, CurrencyCellsReadExactlyAndDatesStayDates) {
  struct Row {
    const char* name;
    Value held;
    fake::NumberFormat format;
    Value read;
  };
  const Row rows[] = {
      {"currency with five decimals", Value(1.23456), fake::NumberFormat::Currency, Value(1.23456)},
      {"currency beyond Currency's precision", Value(0.00001), fake::NumberFormat::Currency,
       Value(0.00001)},
      {"a general number", Value(2.5), fake::NumberFormat::General, Value(2.5)},
      {"a date", Value(DateTime{45000.25}), fake::NumberFormat::General, Value(DateTime{45000.25})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->cells.clear();
    excel_->cells[cellKey(1, 1)].value = row.held;
    excel_->cells[cellKey(1, 1)].format = row.format;
    excel_->cells[cellKey(2, 1)].value = u"x";
    EXPECT_EQ(app_->range(u"A1:A2")->readBlock().cells[0].value, row.read);
    EXPECT_EQ(app_->range(u"A1")->value(), row.read);
    EXPECT_EQ(app_->range(u"A1:A2")->cell(1, 1)->value(), row.read);
  }
}

TEST_F(ExcelBridgeTest, EveryCallIsMadeInEnglishUnitedStates) {
  app_->range(u"A1:A2")->readBlock();
  app_->setScreenUpdating(false);
  app_->locale();
  ASSERT_FALSE(excel_->application->locales.empty());
  for (LCID lcid : excel_->application->locales) EXPECT_EQ(lcid, 1033u);
  // The fake is an English Excel without the user's language pack: any other locale fails.
  DISPID id = 0;
  wchar_t name[] = L"ScreenUpdating";
  LPOLESTR names[] = {name};
  ASSERT_EQ(excel_->application->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(excel_->application->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                        &none, &result, nullptr, nullptr),
            static_cast<HRESULT>(0x80028018));
}

TEST_F(ExcelBridgeTest, TheFakeExcelKeepsKeysButNotTheUndoEntryPastTheNextChange) {
  // OnKey binds a key for the session; a later change replaces the OnUndo entry, and every
  // change raises SheetChange on the application's event sinks.
  std::vector<std::wstring> changed;
  std::unique_ptr<EventSubscription> subscription =
      subscribeSheetChange(excel_->application.get(), [&](IDispatch* sheet, IDispatch* target) {
        changed.push_back(fake::text(get(sheet, L"Name")) + L"!" +
                          fake::text(get(target, L"Address")));
      });

  app_->onUndo(u"Undo Text Removal", u"undo_changes");
  app_->onKey(u"^z", u"undo_changes");
  app_->range(u"A1:A2")->cell(1, 1)->setValue(Value(u"by the add-in"));
  EXPECT_EQ(changed, std::vector<std::wstring>{L"Sheet1!$A$1"});
  app_->onUndo(u"Undo Text Removal", u"undo_changes");
  EXPECT_EQ(excel_->undoEntry, L"Undo Text Removal|undo_changes");

  excel_->userEdits(3, 1, u"typed");
  EXPECT_EQ(changed.back(), L"Sheet1!$A$3");
  EXPECT_EQ(excel_->undoEntry, L"");
  EXPECT_EQ(excel_->keys[L"^z"], L"undo_changes");
  app_->resetKey(u"^z");
  EXPECT_EQ(excel_->keys.count(L"^z"), 0u);
  // The subscription ends with its object.
  subscription.reset();
  EXPECT_TRUE(excel_->application->sinks.empty());
  excel_->userEdits(4, 1, u"again");
  EXPECT_EQ(changed.size(), 2u);
}

TEST_F(ExcelBridgeTest, TheApplicationsSheetChangeReachesTheHostContract) {
  int changes = 0;
  std::unique_ptr<EventSubscription> subscription =
      app_->subscribeSheetChange([&changes] { ++changes; });
  // Excel raises SheetChange for the add-in's own writes and for the user's alike.
  app_->range(u"A1")->setValue(Value(u"by the add-in"));
  EXPECT_EQ(changes, 1);
  excel_->userEdits(2, 1, u"typed");
  EXPECT_EQ(changes, 2);
  subscription.reset();
  EXPECT_TRUE(excel_->application->sinks.empty());
  excel_->userEdits(3, 1, u"again");
  EXPECT_EQ(changes, 2);
}

TEST_F(ExcelBridgeTest, FindControlsReachesEveryBarAndGivesNothingForNoMatch) {
  const CommandBarsPtr bars = app_->commandBars();
  const CommandBarControlPtr popup =
      bars->item(u"Worksheet Menu Bar")->controls()->add(ControlType::Popup, false);
  popup->controls()->add(ControlType::Button, std::nullopt)->setTag(u"QMV1");
  bars->item(u"Standard")->controls()->add(ControlType::Button, std::nullopt)->setTag(u"QMV1");
  bars->item(u"Standard")->controls()->add(ControlType::Button, std::nullopt)->setTag(u"QMV2");

  std::vector<CommandBarControlPtr> found = bars->findControls(u"QMV1");
  ASSERT_EQ(found.size(), 2u);
  for (const CommandBarControlPtr& control : found) control->remove();
  EXPECT_TRUE(bars->findControls(u"QMV1").empty());
  EXPECT_EQ(bars->findControls(u"QMV2").size(), 1u);
  // An empty tag is never sent: it would stand for every untagged control.
  EXPECT_TRUE(bars->findControls(u"").empty());
}

TEST_F(ExcelBridgeTest, ExcelHasNoCallToTakeBackAnUndoEntry) {
  app_->onUndo(u"VandrelQMV_Undo", u"undo_changes");
  try {
    app_->clearOnUndo();
    ADD_FAILURE() << "clearOnUndo reported success";
  } catch (const HostError& error) {
    EXPECT_EQ(error.number(), host_errors::kNotSupported);
  }
  // The entry goes at the user's next change, as Excel does it.
  excel_->userEdits(1, 1, u"typed");
  EXPECT_EQ(excel_->undoEntry, L"");
}

TEST_F(ExcelBridgeTest, CountIfOfALongTextCountsWithoutExcel) {
  const std::u16string longText(300, u'x');
  excel_->cells[{1, 1}].value = longText;
  excel_->cells[{2, 1}].value = std::u16string(300, u'X');
  excel_->cells[{3, 1}].value = u"x";
  RangePtr range = app_->range(u"A1:A3");
  EXPECT_EQ(app_->worksheetFunction().countIf(*range, longText), 2.0);
  EXPECT_TRUE(excel_->countIfCriteria.empty());
}

TEST_F(ExcelBridgeTest, ACountInOneColumnIsAnsweredInProcessWhateverTheBookIsCalled) {
  struct Row {
    const char* name;
    std::u16string book;
  };
  const Row rows[] = {{"plain name", u"Book1"},
                      {"a comma", u"Sales, 2024.xlsx"},
                      {"a comma and a quote", u"O'Brien, Q1.xlsx"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_->nameWorkbook(row.book);
    // Distinct 16-digit texts, which COUNTIF would take for one number of 15 digits.
    excel_->cells[cellKey(1, 1)].value = Value(u"1234567890123456");
    excel_->cells[cellKey(2, 1)].value = Value(u"1234567890123457");
    excel_->countIfCriteria.clear();
    RangePtr column = app_->range(u"A1:A3");
    EXPECT_EQ(app_->worksheetFunction().countIf(*column, u"1234567890123456"), 1);
    EXPECT_TRUE(excel_->countIfCriteria.empty());
  }
}

// Range.Find would make its LookIn, LookAt and SearchOrder the user's: the bridge searches
// the values itself, literally (no wildcards), letter case aside, numbers by their text.
TEST_F(ExcelBridgeTest, FindMatchesLiterallyWithoutExcelsFind) {
  excel_->cells[{1, 1}].value = u"*a?~";
  excel_->cells[{2, 1}].value = u"ba";
  excel_->cells[{3, 1}].value = 12.5;
  struct Row {
    const char16_t* what;
    int64_t foundRow;  ///< 0: nothing
  };
  const Row rows[] = {{u"*a?~", 1}, {u"?a", 0}, {u"BA", 2}, {u"12.5", 3}, {u"*", 0}};
  RangePtr range = app_->range(u"A1:A3");
  for (const Row& row : rows) {
    SCOPED_TRACE(toUtf8(row.what));
    const RangePtr found = range->find(row.what, *range->cell(3, 1));
    EXPECT_EQ(found ? found->topLeft().row : 0, row.foundRow);
  }
  EXPECT_TRUE(excel_->findTexts.empty());
}

TEST_F(ExcelBridgeTest, ReadBlockGivesValuesAndFormulas) {
  excel_->cells[{1, 1}].value = u"abc";
  excel_->cells[{1, 2}].value = 12.5;
  excel_->cells[{2, 1}].value = 2.0;
  excel_->cells[{2, 1}].formula = u"=1+1";
  excel_->cells[{2, 2}].value = u"=not a formula";
  CellBlock block = app_->range(u"A1:B2")->readBlock();
  EXPECT_EQ(block.area, (AreaRef{{1, 1}, {2, 2}}));
  ASSERT_EQ(block.cells.size(), 4u);
  EXPECT_EQ(block.at(0, 0).value, Value(u"abc"));
  EXPECT_FALSE(block.at(0, 0).isFormula());
  EXPECT_EQ(block.at(0, 1).value, Value(12.5));
  EXPECT_EQ(block.at(1, 0).formula, u"=1+1");
  EXPECT_EQ(block.at(1, 0).value, Value(2.0));
  EXPECT_FALSE(block.at(1, 1).isFormula());
  EXPECT_EQ(block.at(1, 1).value, Value(u"=not a formula"));
}

TEST_F(ExcelBridgeTest, ReadBlockOfOneCell) {
  excel_->cells[{3, 2}].value = true;
  CellBlock block = app_->range(u"B3")->readBlock();
  EXPECT_EQ(block.area, (AreaRef{{3, 2}, {3, 2}}));
  ASSERT_EQ(block.cells.size(), 1u);
  EXPECT_EQ(block.cells[0].value, Value(true));
}

TEST_F(ExcelBridgeTest, WritingACellIsOneExcelCall) {
  RangePtr range = app_->range(u"A1:A3");
  const uint64_t before = fake::invokeCount();
  range->cell(2, 1)->setContent({Value(u"007"), u""});
  EXPECT_EQ(fake::invokeCount() - before, 1u);
  // The text stays text: the apostrophe keeps Excel from reading it as 7.
  EXPECT_EQ(excel_->cells[cellKey(2, 1)].value, Value(u"007"));
  range->cell(3, 1)->setValue(Value(5.0));
  EXPECT_EQ(excel_->cells[cellKey(3, 1)].value, Value(5.0));
  range->cell(1, 1)->setContent({Value(0.0), u"=A2&A3"});
  EXPECT_EQ(excel_->cells[cellKey(1, 1)].formula, u"=A2&A3");
}

TEST_F(ExcelBridgeTest, RangeGeometry) {
  RangePtr range = app_->range(u"B2:D5");
  EXPECT_EQ(range->count(), 12);
  EXPECT_EQ(range->rowsCount(), 4);
  EXPECT_EQ(range->columnsCount(), 3);
  EXPECT_EQ(range->topLeft(), (CellRef{2, 2}));
  EXPECT_EQ(range->address(), u"$B$2:$D$5");
  EXPECT_EQ(range->areaRefs(), (std::vector<AreaRef>{{{2, 2}, {5, 4}}}));
  EXPECT_EQ(range->cell(2, 3)->address(), u"$D$3");
}

TEST_F(ExcelBridgeTest, AColumnOfARangeIsItsCellsAsExcelIndexesThem) {
  // Excel refuses a row and a column as the Item of a range taken from Columns: the
  // bridge's column is its Cells, whose cells are reached, read and written.
  excel_->cells[cellKey(3, 3)].value = Value(u"c3");
  excel_->cells[cellKey(2, 4)].value = Value(u"d2");
  struct Row {
    const char* name;
    int64_t column;
    int64_t row;
    const char16_t* address;
    Value value;
  };
  const Row rows[] = {{"the first column", 1, 2, u"$B$3", Value{}},
                      {"a later column", 2, 2, u"$C$3", Value(u"c3")},
                      {"the last column", 3, 1, u"$D$2", Value(u"d2")}};
  const RangePtr range = app_->range(u"B2:D5");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const RangePtr column = range->column(row.column);
    EXPECT_EQ(column->count(), 4) << "the column's cells";
    const RangePtr cell = column->cell(row.row, 1);
    EXPECT_EQ(cell->address(), row.address);
    EXPECT_EQ(cell->value(), row.value);
    cell->setValue(Value(u"new"));
    EXPECT_EQ(excel_->cells[cellKey(cell->topLeft().row, cell->topLeft().column)].value,
              Value(u"new"));
  }
}

TEST_F(ExcelBridgeTest, SelectionMustBeCells) {
  excel_->select(1, 1, 2, 2);
  EXPECT_EQ(app_->selection()->address(), u"$A$1:$B$2");
  excel_->application->members[L"Selection"] = [shape =
                                                    fake::Object::create(L"Shape")](fake::Call&) {
    return Variant::fromDispatch(shape.get());
  };
  try {
    app_->selection();
    ADD_FAILURE() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), host_errors::kTypeMismatch);
  }
}

TEST_F(ExcelBridgeTest, MissingAddInIsAnError) {
  excel_->addInListed = true;
  EXPECT_THROW(app_->addIn(u"Other"), HostError);
  AddInPtr addIn = app_->addIn(u"Vandrel QMV");
  addIn->setInstalled(false);
  EXPECT_FALSE(excel_->addInInstalled);
  EXPECT_TRUE(excel_->comAddInConnected);
}

TEST_F(ExcelBridgeTest, TheAddInMissingFromAddInsIsReachedAsACOMAddIn) {
  // Excel lists a COM add-in in COMAddIns only: clearing "Installed" disconnects it.
  ASSERT_FALSE(excel_->addInListed);
  AddInPtr addIn = app_->addIn(u"Vandrel QMV");
  EXPECT_TRUE(addIn->installed());
  addIn->setInstalled(false);
  EXPECT_FALSE(excel_->comAddInConnected);
  EXPECT_TRUE(excel_->addInInstalled);
  EXPECT_THROW(app_->addIn(u"Other"), HostError);
}

TEST_F(ExcelBridgeTest, CommandBarsBuildControls) {
  CommandBarsPtr bars = app_->commandBars();
  EXPECT_THROW(bars->item(u"Nope"), HostError);
  CommandBarPtr bar = bars->add(u"Dolvanis", xl::kBarTop);
  ASSERT_TRUE(excel_->bar(L"Dolvanis"));
  CommandBarControlPtr button = bar->controls()->add(ControlType::Button, std::nullopt);
  button->setCaption(u"Go");
  button->setFaceId(65);
  button->setTag(u"T1");
  EXPECT_EQ(button->caption(), u"Go");
  EXPECT_EQ(button->faceId(), 65);
  EXPECT_EQ(bar->controls()->count(), 1);
  EXPECT_EQ(bar->controls()->item(u"Go")->tag(), u"T1");
  CommandBarControlPtr popup =
      bars->item(u"Worksheet Menu Bar")->controls()->add(ControlType::Popup, false);
  EXPECT_EQ(popup->type(), ControlType::Popup);
  auto menu = fake::Excel::controlsOf(*excel_->bar(L"Worksheet Menu Bar"));
  ASSERT_EQ(menu.size(), 1u);
  EXPECT_EQ(menu[0]->props[L"_Temporary"].type(), VT_BOOL);
  bar->remove();
  EXPECT_FALSE(excel_->bar(L"Dolvanis"));
}

TEST_F(ExcelBridgeTest, ClickReachesTheHandlerUntilTheSubscriptionEnds) {
  CommandBarControlPtr button = app_->commandBars()
                                    ->add(u"Bar", xl::kBarTop)
                                    ->controls()
                                    ->add(ControlType::Button, std::nullopt);
  button->setTag(u"QMV1");
  int clicks = 0;
  std::u16string clickedTag;
  auto subscription = button->subscribeClick([&](CommandBarControl& clicked, bool& cancel) {
    ++clicks;
    clickedTag = clicked.tag();
    cancel = true;
  });
  auto controls = fake::Excel::controlsOf(*excel_->bar(L"Bar"));
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0]->sinks.size(), 1u);
  EXPECT_TRUE(excel_->click(*controls[0]));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(clickedTag, u"QMV1");
  subscription.reset();
  EXPECT_TRUE(controls[0]->sinks.empty());
  EXPECT_FALSE(excel_->click(*controls[0]));
  EXPECT_EQ(clicks, 1);
}

TEST_F(ExcelBridgeTest, AFailingClickHandlerIsReportedToExcel) {
  CommandBarControlPtr button = app_->commandBars()
                                    ->add(u"Bar", xl::kBarTop)
                                    ->controls()
                                    ->add(ControlType::Button, std::nullopt);
  auto subscription =
      button->subscribeClick([](CommandBarControl&, bool&) { throw HostError(1004, "refused"); });
  HRESULT result = S_OK;
  excel_->click(*fake::Excel::controlsOf(*excel_->bar(L"Bar"))[0], &result);
  EXPECT_EQ(result, DISP_E_EXCEPTION);
}

TEST_F(ExcelBridgeTest, CancelDefaultGoesBackEvenWhenTheHandlerFails) {
  CommandBarControlPtr button = app_->commandBars()
                                    ->add(u"Bar", xl::kBarTop)
                                    ->controls()
                                    ->add(ControlType::Button, std::nullopt);
  auto subscription = button->subscribeClick([](CommandBarControl&, bool& cancel) {
    cancel = true;
    throw HostError(1004, "refused");
  });
  HRESULT result = S_OK;
  EXPECT_TRUE(excel_->click(*fake::Excel::controlsOf(*excel_->bar(L"Bar"))[0], &result));
  EXPECT_EQ(result, DISP_E_EXCEPTION);
}

// The Click sink checks a call before its handler runs: another member, a wrong number of
// arguments or a Ctrl that is no object are answered without calling it.
TEST_F(ExcelBridgeTest, TheClickSinkAnswersMalformedCallsWithoutItsHandler) {
  CommandBarControlPtr button = app_->commandBars()
                                    ->add(u"Bar", xl::kBarTop)
                                    ->controls()
                                    ->add(ControlType::Button, std::nullopt);
  int calls = 0;
  auto subscription = button->subscribeClick([&](CommandBarControl&, bool&) { ++calls; });
  auto controls = fake::Excel::controlsOf(*excel_->bar(L"Bar"));
  ASSERT_EQ(controls.size(), 1u);
  ASSERT_EQ(controls[0]->sinks.size(), 1u);
  IDispatch* sink = controls[0]->sinks.begin()->second.get();
  struct Row {
    const char* name;
    DISPID id;
    bool ctrlIsObject;
    UINT count;
    HRESULT result;
    UINT argError;
  };
  const std::vector<Row> rows{
      {"another member", 2, true, 2, DISP_E_MEMBERNOTFOUND, 0},
      {"one argument", 1, true, 1, DISP_E_BADPARAMCOUNT, 0},
      {"three arguments", 1, true, 3, DISP_E_BADPARAMCOUNT, 0},
      {"Ctrl is a number", 1, false, 2, DISP_E_TYPEMISMATCH, 1},
      {"a well-formed call", 1, true, 2, S_OK, 0},
  };
  int expectedCalls = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[3];
    for (VARIANT& arg : args) VariantInit(&arg);
    args[1].vt = row.ctrlIsObject ? VT_DISPATCH : VT_I4;
    if (row.ctrlIsObject) {
      args[1].pdispVal = static_cast<IDispatch*>(controls[0].get());
    } else {
      args[1].lVal = 7;
    }
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancel;
    DISPPARAMS params{args, nullptr, row.count, 0};
    UINT argError = 0;
    EXPECT_EQ(sink->Invoke(row.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           nullptr, &argError),
              row.result);
    EXPECT_EQ(argError, row.argError);
    if (row.result == S_OK) ++expectedCalls;
    EXPECT_EQ(calls, expectedCalls);
  }
}

TEST_F(ExcelBridgeTest, UndoBindingsReachExcel) {
  app_->onUndo(u"VandrelQMV_Undo", u"undo_changes");
  app_->onKey(u"^z", u"undo_changes");
  const std::vector<std::wstring> expected{L"OnUndo:VandrelQMV_Undo|undo_changes",
                                           L"OnKey:^z|undo_changes"};
  EXPECT_EQ(excel_->bindings, expected);
  // Without a command library the macro cannot be run, so it is not registered.
  EXPECT_FALSE(app_->registerMacro(u"undo_changes", [] {}));
  EXPECT_TRUE(excel_->xllPaths.empty());
}

// A command library whose registration the fake Excel's RegisterXLL decides.
class TestLibrary final : public XllCommandLibrary {
 public:
  std::wstring path() const override { return L"C:\\addins\\commands.xll"; }
  uint64_t offer(const std::u16string& name, std::function<void()> macro) override {
    if (name != u"undo_changes") return 0;
    macro_ = std::move(macro);
    return ++token_;
  }
  void withdraw(const std::u16string&, uint64_t token) override {
    if (token == token_) macro_ = nullptr;
  }
  bool registered(const std::u16string& name) const override {
    return name == u"undo_changes" && registered_;
  }
  bool registered_ = false;
  std::function<void()> macro_;
  uint64_t token_ = 0;
};

TEST_F(ExcelBridgeTest, RegisterMacroLoadsTheLibraryAsAnXll) {
  struct Row {
    const char* name;
    std::u16string macro;
    bool excelLoads;  // RegisterXLL answers True and xlAutoOpen registers the command
    bool expected;
    std::size_t loads;
  };
  const Row rows[] = {
      {"registered", u"undo_changes", true, true, 1},
      {"Excel refuses", u"undo_changes", false, false, 1},
      {"no such command", u"other", true, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto excel = std::make_unique<fake::Excel>();
    TestLibrary library;
    excel->registerXll = [&](const std::wstring& path) {
      library.registered_ = row.excelLoads && path == library.path();
      return row.excelLoads;
    };
    int runs = 0;
    ApplicationPtr app = makeExcelApplication(excel->application.get(), &library);
    EXPECT_EQ(app->registerMacro(row.macro, [&] { ++runs; }), row.expected);
    EXPECT_EQ(excel->xllPaths.size(), row.loads);
    if (row.loads > 0) {
      EXPECT_EQ(excel->xllPaths[0], library.path());
    }
    if (library.macro_) library.macro_();
    EXPECT_EQ(runs, row.loads > 0 ? 1 : 0);
    // The application object withdraws its macro when it goes.
    app.reset();
    EXPECT_FALSE(library.macro_);
  }
}

// The DLL's commands as Excel knows them: the DLL loaded by the fake Excel's XLL host, a
// command registered while that host has it.
class CommandsOfTheXllHost final : public XllCommandLibrary {
 public:
  explicit CommandsOfTheXllHost(fake::XllHost& host) : host_(host) {}
  std::wstring path() const override { return test::dllUnderTest(); }
  uint64_t offer(const std::u16string& name, std::function<void()>) override {
    return name == u"undo_changes" ? 1 : 0;
  }
  void withdraw(const std::u16string&, uint64_t) override {}
  bool registered(const std::u16string& name) const override {
    return host_.commands.count(toWide(name)) == 1;
  }

 private:
  fake::XllHost& host_;
};

TEST_F(ExcelBridgeTest, NothingIsBoundToACommandThatExcelUnloaded) {
  struct Row {
    const char* name;
    bool unloaded;        // Excel unloaded the XLL since the first binding
    bool loadsAgain;      // RegisterXLL registers the command again
    bool bound;           // the second binding is made
    std::size_t loadsAt;  // RegisterXLL calls at the end
  };
  const Row rows[] = {
      {"still loaded", false, true, true, 1},
      {"unloaded, registered again", true, true, true, 2},
      {"unloaded, Excel refuses it", true, false, false, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto excel = std::make_unique<fake::Excel>();
    CommandsOfTheXllHost library(excel->xll);
    ApplicationPtr app = makeExcelApplication(excel->application.get(), &library);
    ASSERT_TRUE(app->registerMacro(u"undo_changes", [] {}));
    app->onKey(u"^z", u"undo_changes");
    if (row.unloaded) excel->xll.closeAll();
    excel->xll.acceptRegistrations = row.loadsAgain;

    // The next run binds Control+Z and the Undo entry again.
    bool keyBound = true;
    bool undoBound = true;
    try {
      app->onKey(u"^z", u"undo_changes");
    } catch (const HostError& e) {
      EXPECT_EQ(e.number(), host_errors::kRefused);
      keyBound = false;
    }
    try {
      app->onUndo(u"VandrelQMV_Undo", u"undo_changes");
    } catch (const HostError&) {
      undoBound = false;
    }
    EXPECT_EQ(keyBound, row.bound);
    EXPECT_EQ(undoBound, row.bound);
    EXPECT_EQ(excel->xllPaths.size(), row.loadsAt);
    // Whatever Control+Z and Undo run, Excel can run: the key does Excel's own action
    // again when the command is gone.
    const auto key = excel->keys.find(L"^z");
    EXPECT_EQ(key != excel->keys.end(), row.bound);
    if (key != excel->keys.end()) {
      EXPECT_TRUE(excel->xll.run(key->second));
    }
    EXPECT_EQ(excel->undoEntry == L"VandrelQMV_Undo|undo_changes", row.bound);
    EXPECT_EQ(excel->xll.missingRuns, 0);
  }
}

TEST_F(ExcelBridgeTest, AFailingRegisterXllIsAHostError) {
  TestLibrary library;
  excel_->application->members[L"RegisterXLL"] = [](fake::Call&) -> Variant {
    throw fake::Failure{1004};
  };
  ApplicationPtr app = makeExcelApplication(excel_->application.get(), &library);
  try {
    app->registerMacro(u"undo_changes", [] {});
    ADD_FAILURE() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 1004);
  }
}

}  // namespace
}  // namespace qmv::windows
