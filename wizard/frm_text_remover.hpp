// The wizard form: one removal and its options picked on one form, run over the selection
// with the form's own progress display.
#pragma once

#include <optional>
#include <string>

#include "commands/form.hpp"

namespace qmv {

class AddinModule;

/// Entries of the operation list `cmbAN`, by index.
namespace wizard_ops {
inline constexpr int kDigits = 0;
inline constexpr int kLetters = 1;
inline constexpr int kAllSpaces = 2;
inline constexpr int kEdgeSpaces = 3;
inline constexpr int kExcessSpaces = 4;
inline constexpr int kNonPrintable = 5;
inline constexpr int kUpper = 6;
inline constexpr int kLower = 7;
inline constexpr int kKeepOne = 8;
inline constexpr int kAllDuplicates = 9;
inline constexpr int kUniqueValues = 10;
inline constexpr int kUserDefined = 11;
}  // namespace wizard_ops

/// Captions of the run button while idle and while a run is in progress.
inline constexpr char16_t kWizardRemoveCaption[] = u"Remove";
inline constexpr char16_t kWizardStopCaption[] = u"Stop!";

/// The wizard form. Constructing it loads it: the controls take their design state and
/// `UserForm_Initialize` fills the lists.
class frmTextRemover : public Form {  // NOLINT(readability-identifier-naming)
 public:
  explicit frmTextRemover(AddinModule& module);

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
  /// Prompts for user-defined characters when that entry is chosen.
  void cmbAN_Click();
  /// Names the chosen separator in the occurrence list's tooltip.
  void cmbSpChar_Click();
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

  /// New text of a cell in list mode; no value when the transform fails.
  std::optional<std::u16string> remAN(const std::u16string& text);
  /// New text of a cell in position mode; no value when the transform fails.
  std::optional<std::u16string> charRemoval(const std::u16string& text);

  /// True from the start of a run until its end unloads the form.
  bool runInProgress() const { return runInProgress_; }

 private:
  void buildControls();
  void bindHandlers();
  /// The start position given by the separator options; no value when it does not fit.
  std::optional<int> separatorPosition(const std::u16string& text);
  /// Requests a stop of the run in progress.
  void requestStop();

  AddinModule& module_;
  bool runInProgress_ = false;
};

}  // namespace qmv
