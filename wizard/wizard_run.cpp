// The wizard's run: the run button, and the per-cell methods of its two modes.
#include <cstdint>
#include <limits>

#include "addin/addin_module.hpp"
#include "engine/box_number.hpp"
#include "engine/character_run.hpp"
#include "engine/duplicate_removal.hpp"
#include "engine/transforms.hpp"
#include "host/host_error.hpp"
#include "host/tolerant.hpp"
#include "wizard/find_nth_occurrence.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv {

namespace {

// True when the text has the shape of a number (spaces around, a sign, digits with at
// most one point), whether or not it fits a 16-bit box number.
bool readsAsNumber(std::u16string_view text) {
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) ++i;
  bool anyDigit = false;
  bool point = false;
  for (; i < end; ++i) {
    if (text[i] >= u'0' && text[i] <= u'9') {
      anyDigit = true;
    } else if (text[i] == u'.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return anyDigit;
}

// A position found in a cell text as the wizard's 16-bit start position.
std::optional<int> startPosition(int32_t found) {
  if (found > std::numeric_limits<int16_t>::max()) return std::nullopt;
  return found;
}

}  // namespace

void frmTextRemover::CommandButton1_Click() {
  Control& runButton = control("CommandButton1");
  // The button reads "Stop!" only while this form's run is in progress.
  if (runButton.caption() == kWizardStopCaption) {
    requestStop();
    return;
  }

  const CellTransform transform = [this](const std::u16string& text) {
    return control("CheckBox1").checked() ? remAN(text) : charRemoval(text);
  };
  CharacterRunSteps steps;
  steps.beforeCells = [this, &runButton](int32_t nonEmptyCount) {
    runButton.setCaption(kWizardStopCaption);
    // The value operations run whatever the mode switch says.
    const int operation = control("cmbAN").listIndex();
    if (operation < wizard_ops::kKeepOne || operation > wizard_ops::kUniqueValues) return true;
    tolerant([&] {
      RunWizardDuplicateRemoval(module_, *this, operation == wizard_ops::kKeepOne,
                                operation == wizard_ops::kAllDuplicates,
                                operation == wizard_ops::kUniqueValues, nonEmptyCount);
    });
    return false;
  };

  // Closing the form during the run only requests a stop; the end of the run
  // unloads the form.
  runInProgress_ = true;
  tolerant([&] {
    runCharacterCells(module_, RunForm{*this, control("ProgressBar1"), control("lblPer")},
                      transform, steps);
  });
  runInProgress_ = false;
  if (loaded()) tolerant([&] { module_.forms.unload(*this); });
}

std::optional<std::u16string> frmTextRemover::remAN(const std::u16string& text) {
  const auto functions = [this]() -> WorksheetFunction& {
    if (!module_.hostApp) throw HostError(host_errors::kObjectNotSet, "no host");
    return module_.hostApp->worksheetFunction();
  };
  switch (control("cmbAN").listIndex()) {
    case wizard_ops::kDigits:
      return RemoveChars(text, charsets::kDigits);
    case wizard_ops::kLetters:
      return RemoveChars(text, charsets::kLetters);
    case wizard_ops::kAllSpaces:
      return removeSpaces(text);
    case wizard_ops::kEdgeSpaces:
      return trimEdges(text);
    case wizard_ops::kExcessSpaces:
      return tolerantGet([&] { return functions().trim(text); });
    case wizard_ops::kNonPrintable:
      return tolerantGet([&] { return functions().clean(text); });
    case wizard_ops::kUpper:
      return RemoveChars(text, charsets::kUpperCase);
    case wizard_ops::kLower:
      return RemoveChars(text, charsets::kLowerCase);
    default:
      // Whichever typed entry is selected, the latest typed set is removed.
      return RemoveChars(text, wizardUserChars);
  }
}

std::optional<std::u16string> frmTextRemover::charRemoval(const std::u16string& text) {
  Control& txtStartPos = control("txtStartPos");
  Control& txtNoOfChars = control("txtNoOfChars");
  if (txtStartPos.text().empty()) txtStartPos.setText(u"1");
  if (txtNoOfChars.text().empty()) txtNoOfChars.setText(u"1");

  const bool before = control("optRight").checked();
  const bool whole = control("chkAllChars").checked();
  // Read in every case, also when the box is hidden.
  const std::optional<int16_t> count = boxNumber(txtNoOfChars.text());
  if (!count) return std::nullopt;

  std::optional<int> position;
  if (control("chkConSP").checked()) {
    position = separatorPosition(text);
  } else {
    position = boxNumber(txtStartPos.text());
  }
  if (!position) return std::nullopt;
  if (*position == 0) return text;
  return CutAtPosition(text, before, whole, static_cast<int16_t>(*position), *count);
}

std::optional<int> frmTextRemover::separatorPosition(const std::u16string& text) {
  const std::u16string& separatorText = control("cmbSpChar").text();
  // An emptied separator box names no separator.
  if (separatorText.empty()) return 0;
  const std::u16string_view separator =
      std::u16string_view(separatorText).substr(separatorText.size() - 1);

  const Control& cmbPos = control("cmbPos");
  const int occurrence = cmbPos.listIndex();
  if (occurrence == 0) return startPosition(findFirstExact(text, separator));
  if (occurrence >= 1 && occurrence <= 3) {
    return startPosition(FindNthOccurrence(text, occurrence + 1, separator));
  }
  if (occurrence == 4) return startPosition(findLastExact(text, separator));

  // A typed occurrence: a number names the nth occurrence, anything else none.
  if (!readsAsNumber(cmbPos.text())) return 0;
  const std::optional<int16_t> n = boxNumber(cmbPos.text());
  if (!n) return std::nullopt;
  return startPosition(FindNthOccurrence(text, *n, separator));
}

}  // namespace qmv
