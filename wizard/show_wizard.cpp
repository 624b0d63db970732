#include "addin/addin_module.hpp"
#include "commands/entry_points.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv {

void ShowWizard(AddinModule& module) {
  // Held here so the form outlives its modal display even if the slot is replaced.
  const std::shared_ptr<frmTextRemover> form = defaultInstance(module.textRemover, module);
  module.forms.showModal(*form);
}

}  // namespace qmv
