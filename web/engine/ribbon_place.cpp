#include "web/engine/ribbon_place.hpp"

namespace qmv::web {

std::optional<RibbonPlace> ribbonPlace(const OperationRow& row) {
  const OperationGroup* group = operationRibbonGroup(row.operation);
  if (group == nullptr) return std::nullopt;
  return RibbonPlace{operationRibbonLabel(row.operation), std::u16string(group->label)};
}

}  // namespace qmv::web
