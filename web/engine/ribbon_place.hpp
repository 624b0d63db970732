// Where the Ribbon shows an operation, for the page's lists of removals: the group and label
// its row in the operation table gives, so the pane groups removals as the Ribbon does.
#pragma once

#include <optional>
#include <string>

#include "engine/operations.hpp"

namespace qmv::web {

struct RibbonPlace {
  std::u16string caption;  ///< the button's caption (the menu command's, for one on a menu)
  std::u16string group;    ///< the Ribbon group's label
};

/// The operation's Ribbon button: its own label, or its menu caption without the accelerator
/// mark; none for an operation the Ribbon does not show.
std::optional<RibbonPlace> ribbonPlace(const OperationRow& row);

}  // namespace qmv::web
