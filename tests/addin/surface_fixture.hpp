// A connected add-in on the in-memory host, with a headless user and a recording shell.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "support/recording_observer.hpp"

namespace qmv::addin_test {

inline constexpr char16_t kMenuBar[] = u"Worksheet Menu Bar";
inline constexpr char16_t kPopup[] = u"&Vandrel QMV";
inline constexpr char16_t kToolbar[] = u"Dolvanis";

/// The add-in over an in-memory host, not yet connected: the host, a headless user, a
/// recording shell, the module and its connection handler.
struct AddinWorld {
  AddinWorld() = default;
  AddinWorld(const AddinWorld&) = delete;
  AddinWorld& operator=(const AddinWorld&) = delete;

  std::shared_ptr<memory::MemoryApplication> app = std::make_shared<memory::MemoryApplication>();
  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  AddinModule module{toolkit, shell};
  Connect connect{module};
  std::shared_ptr<AddInInstance> instance = app->makeAddInInstance(u"Orvik.Connect");
};

class SurfaceTest : public ::testing::Test, protected AddinWorld {
 protected:
  void connectHost() { connect.AddinInstance_OnConnection(app, instance.get()); }

  /// The menu bar's controls whose caption is the add-in's popup caption.
  std::vector<memory::ControlSnapshot> popups() const {
    std::vector<memory::ControlSnapshot> found;
    if (const auto bar = app->bar(kMenuBar)) {
      for (const auto& control : bar->controls) {
        if (control.caption == kPopup) found.push_back(control);
      }
    }
    return found;
  }

  /// The first add-in popup; fails the test when there is none.
  memory::ControlSnapshot popup() const {
    const auto found = popups();
    if (found.empty()) {
      ADD_FAILURE() << "no popup on the menu bar";
      return {};
    }
    return found.front();
  }

  /// A menu button through the host's command bars, as a user would find it.
  CommandBarControlPtr menuButton(const std::u16string& caption) {
    return app->commandBars()->item(kMenuBar)->controls()->item(kPopup)->controls()->item(caption);
  }

  /// The toolbar's button through the host's command bars.
  CommandBarControlPtr toolbarButton() {
    return app->commandBars()->item(kToolbar)->controls()->item(1);
  }

  /// How often a form of that name was shown.
  int timesShown(const std::string& form) const {
    int count = 0;
    for (const auto& event : toolkit.events()) {
      if (event.kind == memory::HeadlessEventKind::FormShown && event.form == form) ++count;
    }
    return count;
  }

  /// Queues the user closing whatever form is shown next (through the toolkit's unload).
  void queueDismiss() {
    user.then([](memory::HeadlessToolkit& tk, Form& shown) { tk.unload(shown); });
  }
};

}  // namespace qmv::addin_test
