// The confirm-and-progress dialog: asks a command's question, takes its inputs, starts the
// run on Yes, shows progress and offers Stop while the engine works.
#pragma once

#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "ui/form.hpp"
#include "ui/session.hpp"

namespace qmv {

/// Texts of the dialog.
inline constexpr char16_t kPrgBarCaption[] = u"Progress";
inline constexpr char16_t kRemovingNotice[] = u"Removing....!\r\nPress Stop to cancel the Process.";

/// The dialog "Progress". Built in its designer state: only the question, the progress
/// line and Yes and No! are visible; askFor shows the input groups an operation needs.
class frmPrgBar : public Form {  // NOLINT(readability-identifier-naming)
 public:
  explicit frmPrgBar(FormsSession& session);

  /// Puts the operation's question on the dialog and shows the input groups it reads
  /// (the operation table's inputs), then the preview of what Yes would change. Yes runs
  /// the operation in session.runOptions.
  void askFor(Operation operation);

  /// Puts the question of session.runOptions.recipe on the dialog, no input group, and the
  /// preview of the whole recipe (before -> after of all its steps). Yes runs its steps as
  /// one run: one progress, one Stop, one undo.
  void askForRecipe();

  /// Shows in lblPreview what the operation would change over the selection with the
  /// boxes as they are (a dry run). Does nothing once Yes was pressed.
  void refreshPreview();

  /// Controls, by their names on the form.
  Control& lblStatus;
  Control& Frame3;
  Control& Label9;
  Control& txtUDC;
  Control& Frame1;
  Control& Label5;
  Control& txtSP;
  Control& Frame2;
  Control& Label8;
  Control& txtNOC;
  Control& Label4;
  Control& ProgressBar1;
  Control& lblPer;
  Control& CommandButton1;
  Control& CommandButton2;
  Control& CommandButton3;
  Control& lblPreview;  ///< what Yes would change, refreshed as the boxes change
  /// The text to remove and its match-case choice (unticked: case-insensitive); for the
  /// pattern removal the pattern, Label10 "Pattern" and the box ticked to begin with.
  Control& Frame4;
  Control& Label10;
  Control& txtText;
  Control& chkCase;
  /// The opening and closing delimiters, "(" and ")" to begin with.
  Control& Frame5;
  Control& Label11;
  Control& txtOpen;
  Control& Label12;
  Control& txtClose;

  /// Handlers.
  void CommandButton1_Click();  ///< Yes: starts the run for the current operation code
  void CommandButton2_Click();  ///< No!: unloads the form
  void CommandButton3_Click();  ///< Stop: requests the running engine to stop
  void txtSP_KeyPress(int& keyAscii);
  void txtNOC_KeyPress(int& keyAscii);
  void txtUDC_MouseDown(int button);
  void UserForm_MouseDown(int button);

 private:
  /// How an empty number box reads: as typed (no number, the cell stays) or as 1.
  enum class EmptyBox { AsTyped, AsOne };
  /// The request per cell: the operation with the boxes it reads, read when asked.
  InputSource boxInputs(Operation operation, EmptyBox empty);
  /// Why the boxes cannot run the operation (a pattern that does not compile); none when
  /// they can.
  std::optional<std::u16string> inputError(Operation operation) const;

  FormsSession& session_;
  bool previewLive_ = false;  ///< from askFor until Yes
};

/// The key filter of the number boxes: digits, ".", Backspace and Enter pass; any other
/// key is discarded (set to 0).
void numberBoxKeyFilter(int& keyAscii);

}  // namespace qmv
