#include "addin/cb_events.hpp"

#include <optional>
#include <string>

#include "addin/addin_module.hpp"
#include "addin/command_table.hpp"
#include "host/tolerant.hpp"

namespace qmv {

std::shared_ptr<cbEvents> cbEvents::create(AddinModule& module) {
  return std::shared_ptr<cbEvents>(new cbEvents(module));
}

void cbEvents::setButton(CommandBarControlPtr button) {
  // The wrapper stays alive through its own click even if the click releases it.
  cbBtn.assign(std::move(button),
               [weak = weak_from_this()](CommandBarControl& clicked, bool& cancelDefault) {
                 if (const auto self = weak.lock()) self->cbBtn_Click(clicked, cancelDefault);
               });
}

void cbEvents::cbBtn_Click(CommandBarControl& clicked, bool& cancelDefault) noexcept {
  std::optional<std::u16string> tag;
  tolerantAtBoundary([&] { tag = clicked.tag(); });
  if (tag) {
    // The host called this handler: no failure of the command may go back to it.
    if (const CommandRow* row = findCommand(*tag)) {
      tolerantAtBoundary([&] { row->command(module_); });
    }
  }
  cancelDefault = true;
}

}  // namespace qmv
