// The in-memory host application: the host interface calls of the add-in (workbooks,
// selection, Intersect, settings, OnUndo, OnKey, macros, sheet-change events, command bars,
// add-ins). The host objects are in memory_range.cpp, the worksheet functions in
// memory_functions.cpp, the driver API of tests and sessions in memory_driver.cpp.
#include "platform/memory/memory_application.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_range.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory {
namespace detail {
namespace {

class MemoryAddIn final : public AddIn {
 public:
  MemoryAddIn(std::shared_ptr<HostState> st, std::shared_ptr<AddInItem> item)
      : st_(std::move(st)), item_(std::move(item)) {}
  bool installed() override {
    st_->hostCall();
    return item_->installed;
  }
  void setInstalled(bool installed) override {
    st_->hostCall();
    item_->installed = installed;
  }

 private:
  std::shared_ptr<HostState> st_;
  std::shared_ptr<AddInItem> item_;
};

std::u16string boolText(bool b) { return b ? u"True" : u"False"; }

int yearNow() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day{today}.year());
}

// Excel drops the procedure bound by OnUndo at the next change of cells, whoever makes it;
// then every subscriber hears where (nothing named without `change`).
void tellCellWatchers(HostState& st, const CellsChange* change) {
  st.undo.reset();
  if (st.cellWatchers.empty()) return;
  const CellsChange unnamed;
  // A copy, so that a subscriber may end its own or another subscription.
  const auto watchers = st.cellWatchers;
  for (const auto& [id, handler] : watchers) {
    try {
      (*handler)(change != nullptr ? *change : unnamed);
    } catch (const std::exception& e) {
      st.hostErrors.push_back(u"The SheetChange handler failed: " + toUtf16(e.what()));
    } catch (...) {
      st.hostErrors.push_back(u"The SheetChange handler failed.");
    }
  }
}

}  // namespace

void HostState::cellsChanged() { tellCellWatchers(*this, nullptr); }

void HostState::cellsChanged(const Sheet& sheet, const AreaRef& area) {
  if (cellWatchers.empty()) {
    undo.reset();
    return;
  }
  cellsChanged(sheet, std::vector<AreaRef>{area});
}

void HostState::cellsChanged(const Sheet& sheet, const std::vector<AreaRef>& areas) {
  CellsChange change;
  if (!cellWatchers.empty()) {
    const std::shared_ptr<Book> book = sheet.book.lock();
    change = CellsChange{book ? book->name : std::u16string(), sheet.name, areas};
  }
  tellCellWatchers(*this, &change);
}

}  // namespace detail

using detail::HostState;
using detail::MemoryRange;

namespace {

void logSetting(HostState& st, std::u16string_view name, std::u16string_view value) {
  std::u16string entry(name);
  entry += u'=';
  entry += value;
  st.settingsLog.push_back(std::move(entry));
}

}  // namespace

MemoryApplication::MemoryApplication()
    : state_(std::make_shared<HostState>()),
      functions_(std::make_unique<detail::MemoryWorksheetFunction>(state_)) {
  state_->currentYear = detail::yearNow();
  detail::addBuiltInBars(*state_);
}

MemoryApplication::~MemoryApplication() {
  // Handlers and macros may hold handles of this host; dropping them breaks the cycles.
  for (const auto& bar : state_->bars) {
    detail::forEachControl(bar->controls, [](const auto& c) { c->subscribers.clear(); });
  }
  state_->macros.clear();
}

int64_t MemoryApplication::workbooksCount() {
  state_->hostCall();
  // Add-in workbooks are not among the user's (closeWorkbooks).
  return static_cast<int64_t>(std::count_if(state_->books.begin(), state_->books.end(),
                                            [](const auto& b) { return !b->addin; }));
}

WorkbookPtr MemoryApplication::activeWorkbook() {
  state_->hostCall();
  if (!state_->activeBook) return nullptr;
  return std::make_shared<detail::MemoryWorkbook>(state_, state_->activeBook);
}

WorksheetPtr MemoryApplication::activeSheet() {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) return nullptr;
  return std::make_shared<detail::MemoryWorksheet>(state_, sheet);
}

RangePtr MemoryApplication::selection() {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  if (!sheet->selectionIsCells) throw HostError(host_errors::kTypeMismatch, "Type mismatch");
  return std::make_shared<MemoryRange>(state_, sheet, sheet->selection);
}

RangePtr MemoryApplication::intersect(Range& a, Range& b) {
  state_->hostCall();
  MemoryRange& ra = detail::asMemoryRange(a);
  MemoryRange& rb = detail::asMemoryRange(b);
  if (ra.sheet() != rb.sheet()) {
    throw HostError(host_errors::kRefused, "Method 'Intersect' of object '_Application' failed");
  }
  std::vector<AreaRef> out;
  for (const auto& x : disjointAreas(ra.refs())) {
    for (const auto& y : rb.refs()) {
      if (auto o = commonArea(x, y)) out.push_back(*o);
    }
  }
  if (out.empty()) return nullptr;
  return ra.make(std::move(out));
}

RangePtr MemoryApplication::range(std::u16string_view reference) {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) throw HostError(host_errors::kRefused, "Method 'Range' of object '_Global' failed");
  auto areas = parseReference(reference);
  if (!areas || areas->empty()) {
    throw HostError(host_errors::kRefused, "Method 'Range' of object '_Global' failed");
  }
  return std::make_shared<MemoryRange>(state_, sheet, std::move(*areas));
}

WorksheetFunction& MemoryApplication::worksheetFunction() {
  state_->hostCall();
  return *functions_;
}

HostLocale MemoryApplication::locale() {
  state_->hostCall();
  return state_->locale;
}

void MemoryApplication::setScreenUpdating(bool on) {
  state_->hostCall();
  state_->settings.screenUpdating = on;
  logSetting(*state_, u"ScreenUpdating", detail::boolText(on));
}

int32_t MemoryApplication::calculation() { return runSettings().calculation; }

void MemoryApplication::setCalculation(int32_t mode) {
  state_->hostCall();
  if (mode != xl::kCalculationManual && mode != xl::kCalculationAutomatic && mode != 2) {
    throw HostError(host_errors::kRefused, "Unable to set the Calculation property");
  }
  state_->settings.calculation = mode;
  logSetting(*state_, u"Calculation", toUtf16(std::to_string(mode)));
}

void MemoryApplication::setEnableCancelKey(int32_t mode) {
  state_->hostCall();
  if (mode < 0 || mode > 2) throw HostError(host_errors::kInvalidCall, "Invalid argument");
  state_->settings.enableCancelKey = mode;
  logSetting(*state_, u"EnableCancelKey", toUtf16(std::to_string(mode)));
}

void MemoryApplication::setStatusBar(const std::u16string& text) {
  state_->hostCall();
  state_->settings.statusBar = text;
  logSetting(*state_, u"StatusBar", text);
}

void MemoryApplication::onUndo(const std::u16string& text, const std::u16string& macro) {
  state_->hostCall();
  state_->undo = UndoBinding{text, macro};
}

void MemoryApplication::clearOnUndo() {
  state_->hostCall();
  state_->undo.reset();
}

void MemoryApplication::onKey(const std::u16string& key, const std::u16string& macro) {
  state_->hostCall();
  if (key.empty()) throw HostError(host_errors::kRefused, "Method 'OnKey' failed");
  state_->keys[key] = macro;
}

void MemoryApplication::resetKey(const std::u16string& key) {
  state_->hostCall();
  if (key.empty()) throw HostError(host_errors::kRefused, "Method 'OnKey' failed");
  state_->keys.erase(key);
}

namespace {

class CellWatch final : public EventSubscription {
 public:
  CellWatch(std::weak_ptr<HostState> state, uint64_t id) : state_(std::move(state)), id_(id) {}
  ~CellWatch() override {
    if (auto state = state_.lock()) {
      std::erase_if(state->cellWatchers, [&](const auto& w) { return w.first == id_; });
    }
  }

 private:
  std::weak_ptr<HostState> state_;
  uint64_t id_;
};

}  // namespace

std::unique_ptr<EventSubscription> MemoryApplication::subscribeSheetChange(
    CellsChangedHandler handler) {
  return subscribeCellsChanged([handler = std::move(handler)](const CellsChange&) { handler(); });
}

std::unique_ptr<EventSubscription> MemoryApplication::subscribeCellsChanged(
    CellsChangedAtHandler handler) {
  state_->hostCall();
  const uint64_t id = state_->nextCellWatcher++;
  state_->cellWatchers.emplace_back(id,
                                    std::make_shared<CellsChangedAtHandler>(std::move(handler)));
  return std::make_unique<CellWatch>(state_, id);
}

bool MemoryApplication::registerMacro(const std::u16string& name, std::function<void()> macro) {
  state_->hostCall();
  for (auto& [n, m] : state_->macros) {
    if (detail::sameName(n, name)) {
      m = std::move(macro);
      return true;
    }
  }
  state_->macros.emplace_back(name, std::move(macro));
  return true;
}

CommandBarsPtr MemoryApplication::commandBars() {
  state_->hostCall();
  return detail::makeCommandBars(state_);
}

AddInPtr MemoryApplication::addIn(const std::u16string& name) {
  state_->hostCall();
  for (const auto& item : state_->addIns) {
    if (detail::sameName(item->name, name)) {
      return std::make_shared<detail::MemoryAddIn>(state_, item);
    }
  }
  throw HostError(host_errors::kRefused, "Unable to get the Item property of the AddIns class");
}

}  // namespace qmv::memory
