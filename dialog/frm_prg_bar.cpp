#include "dialog/frm_prg_bar.hpp"

#include <optional>
#include <string>

#include "engine/box_number.hpp"
#include "engine/preview.hpp"
#include "engine/run.hpp"
#include "engine/text_pattern.hpp"
#include "engine/transforms.hpp"
#include "engine/value_run.hpp"
#include "ui/form_run_observer.hpp"

namespace qmv {

namespace {

constexpr uint32_t kButtonFace = 0xC0E0FF;  // light blue
constexpr uint32_t kStripFace = 0xFFFFC0;   // light yellow
constexpr uint32_t kBoxFace = 0xFFFFE0;     // pale yellow

Control& make(Form& form, std::string name, ControlKind kind, Geometry geometry,
              std::string parent = {}) {
  Control& control = form.add(std::move(name), kind, std::move(parent));
  control.geometry = geometry;
  return control;
}

}  // namespace

void numberBoxKeyFilter(int& keyAscii) {
  const bool digit = keyAscii >= '0' && keyAscii <= '9';
  if (!digit && keyAscii != '.' && keyAscii != keys::kBackspace && keyAscii != keys::kEnter) {
    keyAscii = 0;
  }
}

frmPrgBar::frmPrgBar(FormsSession& session)
    : Form("frmPrgBar"),
      lblStatus(make(*this, "lblStatus", ControlKind::Label, {8, 8, 261, 32})),
      Frame3(make(*this, "Frame3", ControlKind::Frame, {26, 38, 223, 26})),
      Label9(make(*this, "Label9", ControlKind::Label, {4, 3, 72, 12}, "Frame3")),
      txtUDC(make(*this, "txtUDC", ControlKind::TextBox, {79, 3, 135, 16}, "Frame3")),
      Frame1(make(*this, "Frame1", ControlKind::Frame, {28, 40, 99, 23})),
      Label5(make(*this, "Label5", ControlKind::Label, {4, 3, 50, 12}, "Frame1")),
      txtSP(make(*this, "txtSP", ControlKind::TextBox, {56, 3, 37, 16}, "Frame1")),
      Frame2(make(*this, "Frame2", ControlKind::Frame, {127, 40, 120, 23})),
      Label8(make(*this, "Label8", ControlKind::Label, {2, 4, 64, 12}, "Frame2")),
      txtNOC(make(*this, "txtNOC", ControlKind::TextBox, {68, 4, 45, 16}, "Frame2")),
      Label4(make(*this, "Label4", ControlKind::Label, {26, 66, 192, 15})),
      ProgressBar1(make(*this, "ProgressBar1", ControlKind::ProgressBar, {28, 67, 188, 11})),
      lblPer(make(*this, "lblPer", ControlKind::Label, {218, 66, 30, 15})),
      CommandButton1(make(*this, "CommandButton1", ControlKind::CommandButton, {83, 92, 57, 20})),
      CommandButton2(make(*this, "CommandButton2", ControlKind::CommandButton, {138, 92, 56, 20})),
      CommandButton3(make(*this, "CommandButton3", ControlKind::CommandButton, {80, 89, 117, 24})),
      lblPreview(make(*this, "lblPreview", ControlKind::Label, {8, 118, 261, 40})),
      Frame4(make(*this, "Frame4", ControlKind::Frame, {26, 38, 223, 26})),
      Label10(make(*this, "Label10", ControlKind::Label, {4, 3, 50, 12}, "Frame4")),
      txtText(make(*this, "txtText", ControlKind::TextBox, {56, 3, 100, 16}, "Frame4")),
      chkCase(make(*this, "chkCase", ControlKind::CheckBox, {160, 3, 60, 16}, "Frame4")),
      Frame5(make(*this, "Frame5", ControlKind::Frame, {26, 38, 223, 26})),
      Label11(make(*this, "Label11", ControlKind::Label, {4, 3, 50, 12}, "Frame5")),
      txtOpen(make(*this, "txtOpen", ControlKind::TextBox, {56, 3, 60, 16}, "Frame5")),
      Label12(make(*this, "Label12", ControlKind::Label, {120, 3, 20, 12}, "Frame5")),
      txtClose(make(*this, "txtClose", ControlKind::TextBox, {142, 3, 60, 16}, "Frame5")),
      session_(session) {
  setCaption(kPrgBarCaption);
  geometry = {0, 0, 278, 164};
  stopControl = "CommandButton3";

  lblStatus.setCaption(u"#");
  lblStatus.wordWrap = true;
  Frame3.setVisible(false);
  Label9.setCaption(u"Enter Characters");
  txtUDC.setText(std::u16string(charsets::kSampleUserChars));
  txtUDC.backColor = kBoxFace;
  Frame1.setVisible(false);
  Label5.setCaption(u"Start Position");
  txtSP.setText(u"1");
  Frame2.setVisible(false);
  Label8.setCaption(u"No. of Characters");
  txtNOC.setText(u"1");
  Label4.backColor = kStripFace;
  lblPer.setCaption(u"0%");
  lblPer.backColor = kStripFace;
  CommandButton1.setCaption(u"Yes");
  CommandButton2.setCaption(u"No!");
  CommandButton3.setCaption(u"Stop");
  CommandButton3.setVisible(false);
  for (Control* button : {&CommandButton1, &CommandButton2, &CommandButton3}) {
    button->backColor = kButtonFace;
  }
  lblPreview.wordWrap = true;
  Frame4.setVisible(false);
  Label10.setCaption(u"Enter Text");
  txtText.backColor = kBoxFace;
  chkCase.setCaption(u"Match case");
  Frame5.setVisible(false);
  Label11.setCaption(u"From");
  txtOpen.setText(u"(");
  txtOpen.backColor = kBoxFace;
  Label12.setCaption(u"to");
  txtClose.setText(u")");
  txtClose.backColor = kBoxFace;

  CommandButton1.onClick = [this] { CommandButton1_Click(); };
  CommandButton2.onClick = [this] { CommandButton2_Click(); };
  CommandButton3.onClick = [this] { CommandButton3_Click(); };
  txtSP.onKeyPress = [this](int& key) { txtSP_KeyPress(key); };
  txtNOC.onKeyPress = [this](int& key) { txtNOC_KeyPress(key); };
  txtUDC.onMouseDown = [this](int button) { txtUDC_MouseDown(button); };
  onMouseDown = [this](int button) { UserForm_MouseDown(button); };
  for (Control* box : {&txtSP, &txtNOC, &txtUDC, &txtText, &txtOpen, &txtClose}) {
    box->onChange = [this] { refreshPreview(); };
  }
  chkCase.onClick = [this] { refreshPreview(); };
}

void frmPrgBar::CommandButton1_Click() {
  if (const std::shared_ptr<const Recipe> recipe = session_.runOptions.recipe) {
    previewLive_ = false;
    CommandButton1.setVisible(false);
    CommandButton2.setVisible(false);
    CommandButton3.setVisible(true);
    lblStatus.setCaption(kRemovingNotice);
    FormRunObserver observer(session_, *this, ProgressBar1, lblPer);
    runRemoval(session_, recipeRunRequest(*recipe), observer);
    return;
  }
  const std::optional<Operation> asked = session_.runOptions.operation;
  if (const std::optional<std::u16string> error = asked ? inputError(*asked) : std::nullopt) {
    // Nothing changes: the dialog stays as it is for the user to mend the pattern.
    session_.forms.messageBox(*error);
    return;
  }
  previewLive_ = false;
  if (txtSP.text().empty()) txtSP.setText(u"1");
  if (txtNOC.text().empty()) txtNOC.setText(u"1");
  CommandButton1.setVisible(false);
  CommandButton2.setVisible(false);
  CommandButton3.setVisible(true);
  lblStatus.setCaption(kRemovingNotice);

  const std::optional<Operation> operation = session_.runOptions.operation;
  if (!operation) {
    // No command opened the dialog: nothing to run, so close rather than leave Stop showing.
    session_.forms.unload(*this);
    return;
  }
  RunRequest request;
  request.operation = *operation;
  request.rules = sessionTextRules(session_);
  request.inputs = boxInputs(*operation, EmptyBox::AsTyped);
  FormRunObserver observer(session_, *this, ProgressBar1, lblPer);
  runRemoval(session_, request, observer);
}

std::optional<std::u16string> frmPrgBar::inputError(Operation op) const {
  if (operationRow(op).inputs != OperationInputs::Pattern) return std::nullopt;
  return patternError(txtText.text(), chkCase.checked(), sessionTextRules(session_));
}

InputSource frmPrgBar::boxInputs(Operation op, EmptyBox empty) {
  if (operationRow(op).inputs == OperationInputs::None) return {};
  // The boxes are read again for every cell.
  return [this, op, empty](std::u16string_view) -> std::optional<CellRequest> {
    const auto number = [empty](const Control& box) {
      const bool one = empty == EmptyBox::AsOne && box.text().empty();
      return boxNumber(one ? std::u16string_view(u"1") : std::u16string_view(box.text()));
    };
    CellRequest cell{op, {}};
    if (usesStartPosition(op)) cell.inputs.startPosition = number(txtSP);
    if (usesCharCount(op)) cell.inputs.charCount = number(txtNOC);
    switch (operationRow(op).inputs) {
      case OperationInputs::Characters:
        cell.inputs.userChars = txtUDC.text();
        break;
      case OperationInputs::Text:
        cell.inputs.text = txtText.text();
        cell.inputs.matchCase = chkCase.checked();
        break;
      case OperationInputs::Pattern:
        cell.inputs.pattern = txtText.text();
        cell.inputs.matchCase = chkCase.checked();
        break;
      case OperationInputs::Delimiters:
        cell.inputs.opening = txtOpen.text();
        cell.inputs.closing = txtClose.text();
        break;
      default:
        break;
    }
    return cell;
  };
}

void frmPrgBar::refreshPreview() {
  if (!previewLive_) return;
  if (const std::shared_ptr<const Recipe> recipe = session_.runOptions.recipe) {
    const ApplicationPtr host = session_.hostApp;
    if (!host) {
      lblPreview.setCaption(u"");
      return;
    }
    lblPreview.setCaption(
        recipePreviewText(previewRemoval(*host, recipeRunRequest(*recipe)), *recipe));
    return;
  }
  const std::optional<Operation> operation = session_.runOptions.operation;
  const ApplicationPtr app = session_.hostApp;
  if (!operation || !app) {
    lblPreview.setCaption(u"");
    return;
  }
  if (const std::optional<std::u16string> error = inputError(*operation)) {
    lblPreview.setCaption(*error);
    return;
  }
  // An empty number box runs as 1 (Yes fills it in), so the preview reads it as 1 too.
  const InputSource inputs = boxInputs(*operation, EmptyBox::AsOne);
  lblPreview.setCaption(
      previewText(previewRemoval(*app, *operation, inputs, sessionTextRules(session_))));
}

void frmPrgBar::askFor(Operation operation) {
  std::u16string question(operationQuestion(operation));
  // Before Yes: what a value removal will leave since this Excel could not put it back.
  if (operationRow(operation).kind == OperationKind::ValueLevel && session_.hostApp) {
    if (const std::optional<std::u16string> kept = keptArrayFormulasQuestion(*session_.hostApp)) {
      question += u" ";
      question += *kept;
    }
  }
  lblStatus.setCaption(question);
  switch (operationRow(operation).inputs) {
    case OperationInputs::StartPosition:
      Frame1.setVisible(true);
      Frame3.setVisible(true);
      txtUDC.setVisible(false);
      break;
    case OperationInputs::StartAndCount:
      Frame1.setVisible(true);
      Frame2.setVisible(true);
      Frame3.setVisible(true);
      txtUDC.setVisible(false);
      Label9.setVisible(false);
      break;
    case OperationInputs::Characters:
      Frame1.setVisible(false);
      Frame2.setVisible(false);
      Frame3.setVisible(true);
      txtUDC.setVisible(true);
      break;
    case OperationInputs::Text:
      Frame4.setVisible(true);
      break;
    case OperationInputs::Pattern:
      // The text box takes the pattern; its case matches unless unticked, as REGEXREPLACE's
      // does by default.
      Frame4.setVisible(true);
      Label10.setCaption(u"Pattern");
      chkCase.setChecked(true);
      break;
    case OperationInputs::Delimiters:
      Frame5.setVisible(true);
      break;
    case OperationInputs::Count:
      Frame2.setVisible(true);
      break;
    case OperationInputs::None:
      break;
  }
  previewLive_ = true;
  refreshPreview();
}

void frmPrgBar::askForRecipe() {
  if (!session_.runOptions.recipe) return;
  lblStatus.setCaption(recipeQuestion(*session_.runOptions.recipe));
  previewLive_ = true;
  refreshPreview();
}

void frmPrgBar::CommandButton2_Click() { session_.forms.unload(*this); }

void frmPrgBar::CommandButton3_Click() { session_.runOptions.stopRequested = true; }

void frmPrgBar::txtSP_KeyPress(int& keyAscii) { numberBoxKeyFilter(keyAscii); }

void frmPrgBar::txtNOC_KeyPress(int& keyAscii) { numberBoxKeyFilter(keyAscii); }

void frmPrgBar::txtUDC_MouseDown(int /*button*/) {
  if (txtUDC.text().starts_with(u"@#$%")) txtUDC.setText(u"");
}

void frmPrgBar::UserForm_MouseDown(int /*button*/) { session_.forms.beginWindowMove(*this); }

}  // namespace qmv
