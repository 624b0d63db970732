// The wizard's run: the run button, and the per-cell methods of its two modes.
#include <cstdint>

#include "engine/box_number.hpp"
#include "engine/find_nth_occurrence.hpp"
#include "engine/preview.hpp"
#include "engine/run.hpp"
#include "engine/unicode_transforms.hpp"
#include "host/tolerant.hpp"
#include "ui/form_run_observer.hpp"
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

}  // namespace

void frmTextRemover::CommandButton1_Click() {
  Control& runButton = control("CommandButton1");
  // The button reads "Stop!" only while this form's run is in progress.
  if (runButton.caption() == kWizardStopCaption) {
    requestStop();
    return;
  }

  // A separator box that refused what was typed still shows its design text, whose last
  // letter the user never chose: nothing runs until the box holds a character.
  if (!control("CheckBox1").checked() && control("chkConSP").checked() && separatorRefused_ &&
      control("cmbSpChar").text() == kSeparatorPlaceholder) {
    session_.forms.messageBox(kSeparatorRefusedText, MessageIcon::Critical);
    return;
  }

  RunRequest request;
  // Both methods read the form's controls again for every cell.
  request.inputs = [this](std::u16string_view text) -> std::optional<CellRequest> {
    if (control("CheckBox1").checked()) return remAN();
    return charRemoval(text);
  };
  request.rules = textRules();
  request.beforeCells = [this, &runButton]() -> std::optional<ValueMode> {
    runButton.setCaption(kWizardStopCaption);
    // The value operations run whatever the mode switch says.
    const std::optional<Operation> chosen = wizardOperation(control("cmbAN").listIndex());
    if (!chosen || isCharacterOperation(*chosen)) return std::nullopt;
    return operationRow(*chosen).valueMode;
  };

  // Closing the form during the run only requests a stop; the end of the run
  // unloads the form.
  runInProgress_ = true;
  tolerant([&] {
    FormRunObserver observer(session_, *this, control("ProgressBar1"), control("lblPer"));
    runRemoval(session_, request, observer);
  });
  runInProgress_ = false;
  if (loaded()) tolerant([&] { session_.forms.unload(*this); });
}

void frmTextRemover::refreshPreview() {
  if (!previewLive_ || runInProgress_) return;
  Control& label = control("lblPreview");
  const ApplicationPtr app = session_.hostApp;
  if (!app) {
    label.setCaption(u"");
    return;
  }
  // The value entries preview their removal whatever the mode switch says, as they run.
  const std::optional<Operation> chosen = wizardOperation(control("cmbAN").listIndex());
  if (chosen && !isCharacterOperation(*chosen)) {
    label.setCaption(previewText(previewRemoval(*app, *chosen, {}, textRules())));
    return;
  }
  const InputSource inputs = [this](std::u16string_view text) -> std::optional<CellRequest> {
    if (control("CheckBox1").checked()) return remAN();
    return positionRequest(text);
  };
  label.setCaption(previewText(previewRemoval(*app, Operation::RNUM, inputs, textRules())));
}

CellRequest frmTextRemover::remAN() const {
  // Every other entry (typed entries, none selected, and a value entry chosen while the
  // run goes on) removes the latest typed characters.
  const std::optional<Operation> chosen = wizardOperation(control("cmbAN").listIndex());
  const Operation operation = chosen && isCharacterOperation(*chosen) ? *chosen : Operation::RUDC;
  CellRequest cell{operation, {}};
  if (operation == Operation::RUDC) cell.inputs.userChars = wizardUserChars;
  return cell;
}

std::optional<CellRequest> frmTextRemover::charRemoval(std::u16string_view text) {
  Control& txtStartPos = control("txtStartPos");
  Control& txtNoOfChars = control("txtNoOfChars");
  if (txtStartPos.text().empty()) txtStartPos.setText(u"1");
  if (txtNoOfChars.text().empty()) txtNoOfChars.setText(u"1");
  return positionRequest(text);
}

std::optional<CellRequest> frmTextRemover::positionRequest(std::u16string_view /*text*/) {
  const auto number = [](const Control& box) {
    return boxNumber(box.text().empty() ? std::u16string_view(u"1")
                                        : std::u16string_view(box.text()));
  };
  const PositionSide side =
      control("optRight").checked() ? PositionSide::Before : PositionSide::After;
  CellRequest cell{positionOperation(side, control("chkAllChars").checked()), {}};
  // Read in every case, also when the box is hidden.
  cell.inputs.charCount = number(control("txtNoOfChars"));
  if (!cell.inputs.charCount) return std::nullopt;
  if (control("chkConSP").checked()) {
    // The block rule finds the occurrence in each text; a text without it stays.
    const auto option = separatorOption();
    if (!option) return std::nullopt;
    cell.inputs.separator = option->first;
    cell.inputs.occurrence = option->second;
    return cell;
  }
  cell.inputs.startPosition = number(control("txtStartPos"));
  // No position, or position 0: the text stays as it is.
  if (!cell.inputs.startPosition || *cell.inputs.startPosition == 0) return std::nullopt;
  return cell;
}

std::optional<std::pair<std::u16string_view, Occurrence>> frmTextRemover::separatorOption() const {
  const std::u16string& separatorText = control("cmbSpChar").text();
  // An emptied separator box names no separator.
  if (separatorText.empty()) return std::nullopt;
  // The box's last character: its last code point under the Unicode rules.
  std::size_t last = separatorText.size() - 1;
  if (textRules() == TextRules::Unicode && last > 0 &&
      codePointAt(separatorText, last - 1).units == 2) {
    --last;
  }
  const std::u16string_view separator = std::u16string_view(separatorText).substr(last);
  const auto named = [&](Occurrence::Kind kind, int32_t n) {
    return std::optional<std::pair<std::u16string_view, Occurrence>>(std::in_place, separator,
                                                                     Occurrence{kind, n});
  };

  const Control& cmbPos = control("cmbPos");
  const int index = cmbPos.listIndex();
  if (index == 0) return named(Occurrence::Kind::First, 1);
  if (index >= 1 && index <= 3) return named(Occurrence::Kind::Nth, index + 1);
  if (index == 4) return named(Occurrence::Kind::Last, 1);

  // A typed occurrence: a number names the nth occurrence, anything else none.
  if (!readsAsNumber(cmbPos.text())) return std::nullopt;
  const std::optional<int16_t> n = boxNumber(cmbPos.text());
  if (!n) return std::nullopt;
  return named(Occurrence::Kind::Nth, *n);
}

}  // namespace qmv
