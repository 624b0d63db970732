// The state of one in-memory host, shared by the application and every handle it gives
// out, so that handles stay usable however long callers keep them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "host/host_error.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/memory_sheet.hpp"

namespace qmv::memory::detail {

/// Error numbers of failures that have no named constant.
inline constexpr int32_t kNotSupported = 438;          ///< no such property or method
inline constexpr int32_t kDisconnected = -2147221080;  ///< the object was closed
inline constexpr int32_t kMethodFailed = -2147467259;  ///< the object was deleted

struct ControlNode;
struct BarNode;

/// One Click subscription.
struct Subscriber {
  uint64_t id = 0;
  std::shared_ptr<ClickHandler> handler;
};

/// A command-bar control.
struct ControlNode {
  ControlType type = ControlType::Button;
  std::u16string caption, tag, onAction, parameter, tooltipText;
  bool beginGroup = false;
  bool visible = true;
  int32_t faceId = 0;
  int32_t style = 0;
  bool builtIn = false;
  bool deleted = false;
  std::optional<bool> temporaryArgument;
  std::weak_ptr<BarNode> parentBar;
  std::weak_ptr<ControlNode> parentControl;
  std::vector<std::shared_ptr<ControlNode>> controls;
  std::vector<Subscriber> subscribers;
};

/// A command bar.
struct BarNode {
  std::u16string name;
  bool visible = false;
  bool builtIn = false;
  bool deleted = false;
  int32_t position = 0;
  std::vector<std::shared_ptr<ControlNode>> controls;
};

struct AddInItem {
  std::u16string name;
  bool installed = false;
};

/// Everything one host holds.
struct HostState {
  // Host-call counting and the armed fault.
  uint64_t calls = 0;
  uint64_t faultAt = 0;  ///< 0: no fault armed
  int32_t faultNumber = 0;
  void hostCall() {
    if (++calls == faultAt) {
      faultAt = 0;
      throw HostError(faultNumber, "Injected host failure");
    }
  }

  HostLocale locale;
  int currentYear = 2000;

  std::vector<std::shared_ptr<Book>> books;
  std::shared_ptr<Book> activeBook;
  int nextBookNumber = 1;

  RunSettings settings;
  std::vector<std::u16string> settingsLog;
  std::optional<UndoBinding> undo;
  std::map<std::u16string, std::u16string> keys;
  std::vector<std::pair<std::u16string, std::function<void()>>> macros;
  std::vector<std::u16string> hostErrors;

  /// Sheet-change subscribers, in subscription order.
  std::vector<std::pair<uint64_t, std::shared_ptr<CellsChangedAtHandler>>> cellWatchers;
  uint64_t nextCellWatcher = 1;
  /// After cells changed, by a host call or by the user: the Undo entry bound by onUndo
  /// goes back to the host's own list, and every sheet-change subscriber is told where (a
  /// failing one is recorded in hostErrors). Without a sheet the notice names nothing.
  void cellsChanged();
  void cellsChanged(const Sheet& sheet, const AreaRef& area);
  void cellsChanged(const Sheet& sheet, const std::vector<AreaRef>& areas);

  std::vector<std::shared_ptr<BarNode>> bars;
  uint64_t nextSubscriber = 1;
  std::vector<std::u16string> onActionsRun;

  std::vector<std::shared_ptr<AddInItem>> addIns;
  /// The add-in's per-user settings, by name.
  std::map<std::u16string, std::u16string> addinSettings;
  /// The answers to the file questions to come, in order; no value stands for Cancel.
  std::deque<std::optional<std::u16string>> fileAnswers;
  /// The file questions asked: filter and title.
  std::vector<FileQuestion> fileQuestions;

  std::shared_ptr<Sheet> activeSheet() const {
    if (!activeBook || activeBook->sheets.empty()) return nullptr;
    return activeBook->sheets[activeBook->activeSheet];
  }
};

/// Calls `f` for every control of `list` and, depth first, for the controls of its popups.
template <class F>
void forEachControl(const std::vector<std::shared_ptr<ControlNode>>& list, F&& f) {
  for (const auto& c : list) {
    f(c);
    forEachControl(c->controls, f);
  }
}

/// The worksheet functions of one host.
class MemoryWorksheetFunction final : public WorksheetFunction {
 public:
  explicit MemoryWorksheetFunction(std::shared_ptr<HostState> state) : st_(std::move(state)) {}
  double countA(Range& range) override;
  double countIf(Range& range, const std::u16string& text) override;
  std::u16string clean(const std::u16string& text) override;
  std::u16string trim(const std::u16string& text) override;

 private:
  std::shared_ptr<HostState> st_;
  std::u16string scratch_;  ///< the folded criterion, its storage reused from call to call
};

/// Handles for command bars (memory_command_bars.cpp).
CommandBarsPtr makeCommandBars(const std::shared_ptr<HostState>& st);
CommandBarControlPtr makeControlHandle(const std::shared_ptr<HostState>& st,
                                       const std::shared_ptr<ControlNode>& node);
/// The node behind a control handle of this host; null for a foreign handle.
std::shared_ptr<ControlNode> controlNodeOf(CommandBarControl& control);
/// The built-in bars of a new host.
void addBuiltInBars(HostState& st);

/// ASCII/Latin case-insensitive equality.
bool sameName(std::u16string_view a, std::u16string_view b);

}  // namespace qmv::memory::detail
