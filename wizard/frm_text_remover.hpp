// The wizard form: one removal and its options picked on one form, run over the selection
// with the form's own progress display.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "ui/form.hpp"
#include "ui/session.hpp"

namespace qmv {

/// The index of an operation's entry in the operation list `cmbAN` (the operation table's
/// wizard index; -1 when the wizard does not offer it).
inline int wizardIndexOf(Operation operation) { return operationRow(operation).wizardIndex; }

/// Captions of the run button while idle and while a run is in progress.
inline constexpr char16_t kWizardRemoveCaption[] = u"Remove";
inline constexpr char16_t kWizardStopCaption[] = u"Stop!";

/// The separator box's design text, which names no separator the user chose.
inline constexpr char16_t kSeparatorPlaceholder[] = u"Select Character";
/// Told at the run button when the separator box refused what was typed into it and still
/// holds its design text: the run does not start.
inline constexpr char16_t kSeparatorRefusedText[] =
    u"The separator box could not take what was typed. Type or choose one character.";

/// The wizard form. Constructing it loads it: the controls take their design state and
/// `UserForm_Initialize` fills the lists.
class frmTextRemover : public Form {  // NOLINT(readability-identifier-naming)
 public:
  explicit frmTextRemover(FormsSession& session);

  /// The characters most recently typed at the user-defined prompt; removed by every
  /// user-defined entry of the operation list.
  std::u16string wizardUserChars;

  /// Fills the three lists and selects the first operation; each step tolerant.
  void UserForm_Initialize();

  /// Mode switch: list mode (checked) or position mode (clear).
  void CheckBox1_Click();
  /// All characters (checked) or a number of characters (clear).
  void chkAllChars_Click();
  /// Start position from a separator occurrence (checked) or typed (clear).
  void chkConSP_Click();
  /// Unicode text rules (checked) or classic ones (clear); stored as the user's setting.
  void chkUnicode_Click();
  /// The rules the check box names.
  TextRules textRules() const;
  /// Prompts for user-defined characters when that entry is chosen.
  void cmbAN_Click();
  /// Names the chosen separator in the occurrence list's tooltip.
  void cmbSpChar_Click();
  /// Keeps the separator box to one typed character as the text rules count characters
  /// (an emoji is one under the Unicode rules, two under the classic ones): a longer text
  /// that is not an entry gives way to the text before it.
  void cmbSpChar_Change();
  /// Key filters of the two number boxes: digits, ".", backspace and Enter pass.
  void txtStartPos_KeyPress(int& keyAscii);
  void txtNoOfChars_KeyPress(int& keyAscii);
  /// Close: unloads the form, or requests a stop while a run is in progress.
  void CommandButton2_Click();
  /// Lets the user drag the form by its background or its main frame.
  void UserForm_MouseDown(int button);
  void Frame1_KeyDown(int& keyCode);
  /// The close box: keeps the form open during a run and requests a stop instead.
  bool UserForm_QueryClose();

  /// The run button: starts a run, or requests a stop while one is in progress.
  void CommandButton1_Click();

  /// The request for one cell in list mode: the selected entry's operation (the typed
  /// characters for a user-defined entry or none).
  CellRequest remAN() const;
  /// The request for one cell in position mode: a position cut with the start position
  /// and count from the boxes or the separator; no value leaves the cell as it is.
  std::optional<CellRequest> charRemoval(std::u16string_view text);

  /// Shows in lblPreview what the run button would change over the selection with the
  /// options as they are (a dry run). Does nothing during a run.
  void refreshPreview();

  /// True from the start of a run until its end unloads the form.
  bool runInProgress() const { return runInProgress_; }

 private:
  void buildControls();
  void bindHandlers();
  /// The separator and its occurrence the separator options name; no value when they name
  /// none (an empty box, an occurrence that is not a number or does not fit).
  std::optional<std::pair<std::u16string_view, Occurrence>> separatorOption() const;
  /// The request for one cell in position mode, an empty number box read as 1.
  std::optional<CellRequest> positionRequest(std::u16string_view text);
  /// Requests a stop of the run in progress.
  void requestStop();

  FormsSession& session_;
  /// The separator box's last text it took, and whether it refused typing since.
  std::u16string separatorText_ = kSeparatorPlaceholder;
  bool separatorRefused_ = false;
  bool runInProgress_ = false;
  bool previewLive_ = false;  ///< once the lists are filled
};

}  // namespace qmv
