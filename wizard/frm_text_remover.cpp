#include "wizard/frm_text_remover.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/unicode_classes.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

constexpr std::array<const char16_t*, 5> kPositionEntries = {u"1st", u"2nd", u"3rd", u"4th",
                                                             u"Last"};

// Each entry ends in the character it stands for; the labels of the two slashes are the
// wrong way round, the last character is what counts.
constexpr std::array<const char16_t*, 11> kSeparatorEntries = {
    u"Space ",          u"SemiColon ;", u"Colon :",        u"Hyphen -",
    u"Comma ,",         u"Less than <", u"Great than >",   u"Period .",
    u"Question Mark ?", u"BackSlash /", u"ForwardSlash \\"};

constexpr uint32_t kFormColour = 0xC0C0FF;
constexpr uint32_t kPaleYellow = 0xFFFFC0;
constexpr uint32_t kPercentColour = 0xFFFF80;

constexpr char16_t kPromptText[] = u"Enter Character(s): ";
constexpr char16_t kPromptTitle[] = u"Input";
constexpr char16_t kEmptyAnswerText[] = u"Empty String!";
constexpr char16_t kPositionTooltipPrefix[] = u"Select or type position of ";

Control& place(Control& control, Geometry geometry) {
  control.geometry = geometry;
  return control;
}

// Digits, the full stop, backspace and Enter pass; every other key is discarded.
void numberKeyFilter(int& keyAscii) {
  const bool digit = keyAscii >= '0' && keyAscii <= '9';
  if (!digit && keyAscii != '.' && keyAscii != keys::kBackspace && keyAscii != keys::kEnter) {
    keyAscii = 0;
  }
}

}  // namespace

frmTextRemover::frmTextRemover(FormsSession& session) : Form("frmTextRemover"), session_(session) {
  buildControls();
  bindHandlers();
  UserForm_Initialize();
}

void frmTextRemover::buildControls() {
  setCaption(u"Quintara - Wizard");
  geometry = {0, 0, 231, 241};
  backColor = kFormColour;
  stopControl = "CommandButton1";

  // The form.
  place(add("Frame1", ControlKind::Frame), {9, 10, 212, 204});
  Control& lblPer = place(add("lblPer", ControlKind::Label), {191, 215, 30, 14});
  lblPer.setCaption(u"0%");
  lblPer.backColor = kPercentColour;
  lblPer.textAlign = TextAlign::Center;
  lblPer.etched = true;
  Control& bar = place(add("ProgressBar1", ControlKind::ProgressBar), {10.5f, 218, 178, 11});
  bar.setMax(100);
  bar.setValue(0);
  place(add("Label4", ControlKind::Label), {9, 215, 182, 14}).etched = true;

  // The main frame.
  place(add("Frame2", ControlKind::Frame, "Frame1"), {123, 44, 81, 46});
  place(add("Frame3", ControlKind::Frame, "Frame1"), {4.5f, 40, 121, 50})
      .setCaption(u"Remove Characters");
  place(add("CommandButton1", ControlKind::CommandButton, "Frame1"), {70, 178, 68.5f, 19.5f})
      .setCaption(kWizardRemoveCaption);
  Control& chkUnicode = place(add("chkUnicode", ControlKind::CheckBox, "Frame1"), {6, 180, 62, 16});
  chkUnicode.setCaption(u"Unicode");
  chkUnicode.setTooltip(
      u"Count every kind of space, invisible character and letter; an emoji is one character");
  place(add("Frame4", ControlKind::Frame, "Frame1"), {4.5f, 92, 199, 37})
      .setCaption(u"Conditional Start Position");
  place(add("Frame5", ControlKind::Frame, "Frame1"), {5, 6, 199, 29}).backColor = kPaleYellow;
  place(add("CommandButton2", ControlKind::CommandButton, "Frame1"), {141, 179, 61.5f, 19.5f})
      .setCaption(u"Close");
  // What the run button would change, above it.
  place(add("lblPreview", ControlKind::Label, "Frame1"), {4.5f, 132, 199, 42}).wordWrap = true;

  // Before or after the start position.
  Control& optRight = place(add("optRight", ControlKind::OptionButton, "Frame2"), {6, 5, 75, 15});
  optRight.setCaption(u"Before (SP)");
  Control& optLeft = place(add("optLeft", ControlKind::OptionButton, "Frame2"), {6, 25, 64, 15});
  optLeft.setCaption(u"After (SP)");
  optLeft.setChecked(true);

  // All characters or a number of them, and the typed start position.
  Control& chkAllChars =
      place(add("chkAllChars", ControlKind::CheckBox, "Frame3"), {9, 7, 67.5f, 15});
  chkAllChars.setCaption(u"All Characters");
  chkAllChars.setTooltip(u"Check it for all chars or type no. of chars in box");
  place(add("Label1", ControlKind::Label, "Frame3"), {11, 27, 87, 17})
      .setCaption(u"Start Position (SP)");
  Control& txtStartPos =
      place(add("txtStartPos", ControlKind::TextBox, "Frame3"), {79.5f, 25, 35, 16});
  txtStartPos.setText(u"1");
  txtStartPos.maxLength = 5;
  txtStartPos.backColor = kPaleYellow;
  Control& txtNoOfChars =
      place(add("txtNoOfChars", ControlKind::TextBox, "Frame3"), {79.5f, 6, 35, 16.5f});
  txtNoOfChars.setText(u"1");
  txtNoOfChars.setTooltip(u"Type No. of Characters");
  txtNoOfChars.maxLength = 5;

  // The start position from an occurrence of a separator.
  Control& cmbSpChar = place(add("cmbSpChar", ControlKind::ComboBox, "Frame4"), {105, 6, 88, 19});
  cmbSpChar.comboStyle = ComboStyle::DropDownCombo;
  // Two units: one character beyond the BMP; the form refuses a second character itself.
  cmbSpChar.maxLength = 2;
  cmbSpChar.setText(kSeparatorPlaceholder);
  cmbSpChar.setEnabled(false);
  Control& cmbPos = place(add("cmbPos", ControlKind::ComboBox, "Frame4"), {26, 7, 77, 18});
  cmbPos.comboStyle = ComboStyle::DropDownCombo;
  cmbPos.setText(u"Select Position");
  cmbPos.setEnabled(false);
  place(add("chkConSP", ControlKind::CheckBox, "Frame4"), {9, 8, 14, 16});

  // The operation list and the mode switch.
  Control& cmbAN = place(add("cmbAN", ControlKind::ComboBox, "Frame5"), {49.5f, 4, 142, 19});
  cmbAN.comboStyle = ComboStyle::DropDownList;
  cmbAN.setEnabled(false);
  place(add("CheckBox1", ControlKind::CheckBox, "Frame5"), {3, 5, 46, 16}).setCaption(u"Remove");
}

void frmTextRemover::bindHandlers() {
  control("CheckBox1").onClick = [this] { CheckBox1_Click(); };
  control("chkAllChars").onClick = [this] { chkAllChars_Click(); };
  control("chkConSP").onClick = [this] { chkConSP_Click(); };
  control("chkUnicode").onClick = [this] { chkUnicode_Click(); };
  control("cmbAN").onClick = [this] { cmbAN_Click(); };
  control("cmbSpChar").onClick = [this] { cmbSpChar_Click(); };
  control("txtStartPos").onKeyPress = [this](int& keyAscii) { txtStartPos_KeyPress(keyAscii); };
  control("txtNoOfChars").onKeyPress = [this](int& keyAscii) { txtNoOfChars_KeyPress(keyAscii); };
  control("CommandButton1").onClick = [this] { CommandButton1_Click(); };
  control("CommandButton2").onClick = [this] { CommandButton2_Click(); };
  control("Frame1").onKeyDown = [this](int& keyCode) { Frame1_KeyDown(keyCode); };
  onMouseDown = [this](int button) { UserForm_MouseDown(button); };
  onQueryClose = [this] { return UserForm_QueryClose(); };

  // Every option the run reads refreshes the preview once its own handler has run.
  for (const char* name :
       {"CheckBox1", "chkAllChars", "chkConSP", "optRight", "optLeft", "cmbAN"}) {
    Control& option = control(name);
    option.onClick = [this, handler = std::move(option.onClick)] {
      if (handler) handler();
      refreshPreview();
    };
  }
  for (const char* name : {"txtStartPos", "txtNoOfChars", "cmbPos", "cmbSpChar"}) {
    control(name).onChange = [this] { refreshPreview(); };
  }
  control("cmbSpChar").onChange = [this] {
    cmbSpChar_Change();
    refreshPreview();
  };
}

void frmTextRemover::UserForm_Initialize() {
  Control& cmbPos = control("cmbPos");
  Control& cmbSpChar = control("cmbSpChar");
  Control& cmbAN = control("cmbAN");
  tolerant([&] {
    for (const char16_t* entry : kPositionEntries) cmbPos.addItem(entry);
  });
  tolerant([&] {
    for (const char16_t* entry : kSeparatorEntries) cmbSpChar.addItem(entry);
  });
  tolerant([&] {
    // The table's wizard entries, by their index in the list.
    std::vector<const OperationRow*> entries;
    for (const OperationRow& row : operationTable()) {
      if (row.wizardIndex >= 0) entries.push_back(&row);
    }
    std::sort(entries.begin(), entries.end(), [](const OperationRow* a, const OperationRow* b) {
      return a->wizardIndex < b->wizardIndex;
    });
    for (const OperationRow* row : entries) cmbAN.addItem(std::u16string(row->wizardEntry));
  });
  tolerant([&] { cmbAN.setText(cmbAN.list().at(0)); });
  control("chkUnicode").setChecked(sessionTextRules(session_) == TextRules::Unicode);
  previewLive_ = true;
  refreshPreview();
}

void frmTextRemover::chkUnicode_Click() {
  if (session_.hostApp) trySetTextRulesSetting(*session_.hostApp, textRules());
  refreshPreview();
}

TextRules frmTextRemover::textRules() const {
  return control("chkUnicode").checked() ? TextRules::Unicode : TextRules::Classic;
}

void frmTextRemover::CheckBox1_Click() {
  const bool listMode = control("CheckBox1").checked();
  control("Frame2").setEnabled(!listMode);
  control("Frame3").setEnabled(!listMode);
  control("Frame4").setEnabled(!listMode);
  control("cmbAN").setEnabled(listMode);
}

void frmTextRemover::chkAllChars_Click() {
  control("txtNoOfChars").setVisible(!control("chkAllChars").checked());
}

void frmTextRemover::chkConSP_Click() {
  const bool fromSeparator = control("chkConSP").checked();
  control("cmbPos").setEnabled(fromSeparator);
  control("cmbSpChar").setEnabled(fromSeparator);
  control("txtStartPos").setEnabled(!fromSeparator);
  control("Label1").setEnabled(!fromSeparator);
}

void frmTextRemover::cmbAN_Click() {
  Control& cmbAN = control("cmbAN");
  if (cmbAN.listIndex() != wizardIndexOf(Operation::RUDC)) return;
  // Cancel answers with the empty text, which replaces the earlier set as well.
  wizardUserChars = session_.forms.inputBox(kPromptText, kPromptTitle);
  if (!wizardUserChars.empty()) {
    cmbAN.addItem(wizardUserChars);
    cmbAN.setListIndex(cmbAN.listCount() - 1);
  } else {
    session_.forms.messageBox(kEmptyAnswerText, MessageIcon::Critical);
    cmbAN.setListIndex(wizardIndexOf(Operation::RNUM));
  }
}

void frmTextRemover::cmbSpChar_Click() {
  const Control& cmbSpChar = control("cmbSpChar");
  // Typing that leaves every entry unselected chooses nothing.
  if (cmbSpChar.listIndex() < 0) return;
  control("cmbPos").setTooltip(kPositionTooltipPrefix + cmbSpChar.text());
}

void frmTextRemover::cmbSpChar_Change() {
  Control& box = control("cmbSpChar");
  const std::u16string& text = box.text();
  if (text == separatorText_) return;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    i += textRules() == TextRules::Unicode ? codePointAt(text, i).units : 1;
  }
  if (box.listIndex() >= 0 || characters <= 1) {
    separatorText_ = text;
    separatorRefused_ = false;
    return;
  }
  separatorRefused_ = true;
  box.setText(separatorText_);
}

void frmTextRemover::txtStartPos_KeyPress(int& keyAscii) { numberKeyFilter(keyAscii); }

void frmTextRemover::txtNoOfChars_KeyPress(int& keyAscii) { numberKeyFilter(keyAscii); }

void frmTextRemover::CommandButton2_Click() {
  // The run reads this form after every cell; it unloads the form itself when it ends.
  if (runInProgress_) {
    requestStop();
    return;
  }
  session_.forms.unload(*this);
}

void frmTextRemover::UserForm_MouseDown(int /*button*/) { session_.forms.beginWindowMove(*this); }

void frmTextRemover::Frame1_KeyDown(int& /*keyCode*/) { session_.forms.beginWindowMove(*this); }

bool frmTextRemover::UserForm_QueryClose() {
  if (!runInProgress_) return false;
  requestStop();
  return true;
}

void frmTextRemover::requestStop() { session_.runOptions.stopRequested = true; }

}  // namespace qmv
