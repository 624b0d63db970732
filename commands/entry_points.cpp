#include "commands/entry_points.hpp"

#include <string>

#include "addin/addin_module.hpp"
#include "commands/frm_prg_bar.hpp"
#include "commands/operation_codes.hpp"

namespace qmv {

namespace {

// Stores the code, puts the question and the needed input groups on the dialog and shows
// it; returns when the dialog has been closed (No! or the end of the run).
void confirmAndRun(AddinModule& module, Operation operation) {
  module.runOptions.operationCode = std::u16string(operationCode(operation));
  const std::shared_ptr<frmPrgBar> dialog = defaultInstance(module.prgBar, module);
  dialog->lblStatus.setCaption(std::u16string(operationQuestion(operation)));
  switch (operation) {
    case Operation::RBSP:
    case Operation::RASP:
      dialog->Frame1.setVisible(true);
      dialog->Frame3.setVisible(true);
      dialog->txtUDC.setVisible(false);
      break;
    case Operation::RNBP:
    case Operation::RNAP:
      dialog->Frame1.setVisible(true);
      dialog->Frame2.setVisible(true);
      dialog->Frame3.setVisible(true);
      dialog->txtUDC.setVisible(false);
      dialog->Label9.setVisible(false);
      break;
    case Operation::RUDC:
      dialog->Frame1.setVisible(false);
      dialog->Frame2.setVisible(false);
      dialog->Frame3.setVisible(true);
      dialog->txtUDC.setVisible(true);
      break;
    default:
      break;
  }
  module.forms.showModal(*dialog);
}

}  // namespace

void RemoveNumbers(AddinModule& module) { confirmAndRun(module, Operation::RNUM); }
void RemoveAlphas(AddinModule& module) { confirmAndRun(module, Operation::RALP); }
void RemoveNonPrintable(AddinModule& module) { confirmAndRun(module, Operation::RNPC); }
void RemoveUserChars(AddinModule& module) { confirmAndRun(module, Operation::RUDC); }
void RemoveAllSpaces(AddinModule& module) { confirmAndRun(module, Operation::RALS); }
void RemoveLeadTrailSpaces(AddinModule& module) { confirmAndRun(module, Operation::RLTS); }
void RemoveExcessSpaces(AddinModule& module) { confirmAndRun(module, Operation::RLTE); }
void RemoveTextBefore(AddinModule& module) { confirmAndRun(module, Operation::RBSP); }
void RemoveTextAfter(AddinModule& module) { confirmAndRun(module, Operation::RASP); }
void RemoveCharsBefore(AddinModule& module) { confirmAndRun(module, Operation::RNBP); }
void RemoveCharsAfter(AddinModule& module) { confirmAndRun(module, Operation::RNAP); }
void RemoveUpper(AddinModule& module) { confirmAndRun(module, Operation::RUPC); }
void RemoveLower(AddinModule& module) { confirmAndRun(module, Operation::RLOC); }
void RemoveDuplicatesKeepOne(AddinModule& module) { confirmAndRun(module, Operation::RDPV); }
void RemoveAllDuplicates(AddinModule& module) { confirmAndRun(module, Operation::RADP); }
void RemoveUniqueValues(AddinModule& module) { confirmAndRun(module, Operation::RUDP); }

}  // namespace qmv
