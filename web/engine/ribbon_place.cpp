#include "web/engine/ribbon_place.hpp"

#include "addin/command_table.hpp"
#include "addin/entry_points.hpp"
#include "addin/ribbon_table.hpp"

namespace qmv::web {

std::optional<RibbonPlace> ribbonPlace(const OperationRow& row) {
  for (const RibbonGroup& group : ribbonGroups()) {
    for (const RibbonControl& control : group.controls) {
      if (control.tag.empty()) break;
      const bool own = operationFromCode(control.tag) == row.operation;
      if (own || entryPointOperation(ribbonCommand(control)) == row.operation) {
        return RibbonPlace{ribbonLabel(control), std::u16string(group.label)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace qmv::web
