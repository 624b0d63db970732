// Where the Ribbon shows an operation, for the page's lists of removals: the one thing the
// web engine still takes from the COM add-in's layer (the Ribbon's table), kept here so
// that the rest of web/engine sees the engine layer only.
#pragma once

#include <optional>
#include <string>

#include "engine/operations.hpp"

namespace qmv::web {

struct RibbonPlace {
  std::u16string caption;  ///< the button's caption (the menu command's, for one on a menu)
  std::u16string group;    ///< the Ribbon group's label
};

/// The operation's own button, or the menu command's that runs it; none for an operation
/// the Ribbon does not show.
std::optional<RibbonPlace> ribbonPlace(const OperationRow& row);

}  // namespace qmv::web
