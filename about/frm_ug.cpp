#include "about/frm_ug.hpp"

namespace qmv {

namespace {

constexpr std::u16string_view kFont = u"Trebuchet MS";
constexpr std::u16string_view kLineBreak = u"\r\n";

constexpr std::u16string_view kProductText =
    u"Vandrel QMV is a powerful Excel Add-In. QMV stands for Dolvani. It removes text from Excel "
    u"Cells with different criteria and conditions. With Vandrel QMV you can work with as many "
    u"cells as you want in a single process. It is designed to give you a user friendly "
    u"environment with lightning speed and quality results. It saves your precious time and "
    u"money. In brief, Vandrel QMV is a valuable addin to automate text removing task for Excel "
    u"with quality and speed. We can say every Excel user must have Vandrel QMV to use hidden "
    u"power of Excel.";
constexpr std::u16string_view kFeedbackText = u"Please send your Feedback and Advice to us at : ";
constexpr std::u16string_view kFooter =
    u"\u00A9 2009-2011 Vandrel QMV  |  support@vandrel-qmv.example  |  vandrel-qmv.example";

Control& label(Form& form, const char* name, Geometry at, std::u16string_view caption) {
  Control& control = form.add(name, ControlKind::Label);
  control.geometry = at;
  control.setCaption(std::u16string(caption));
  control.fontName = std::u16string(kFont);
  control.wordWrap = true;
  return control;
}

Control& decoration(Form& form, const char* name, ControlKind kind, Geometry at) {
  Control& control = form.add(name, kind);
  control.geometry = at;
  return control;
}

}  // namespace

std::u16string aboutText() {
  std::u16string text(kProductText);
  text += kLineBreak;
  text += kLineBreak;
  text += kFeedbackText;
  text += kLineBreak;
  text += about::kContactMail;
  text += u" or visit ";
  text += about::kWebSite;
  text += u" for more info";
  return text;
}

frmUG::frmUG(FormsSession& session)
    : Form("frmUG"),
      Label2(label(*this, "Label2", {12, 84, 336, 150}, about::kDescription)),
      Shape1(decoration(*this, "Shape1", ControlKind::Shape, {6, 78, 348, 162})),
      Line1(decoration(*this, "Line1", ControlKind::Line, {6, 246, 348, 0})),
      Label21(label(*this, "Label21", {12, 252, 336, 14}, kFooter)),
      Label1(label(*this, "Label1", {84, 18, 264, 48}, about::kDescription)),
      Shape2(decoration(*this, "Shape2", ControlKind::Shape, {6, 6, 348, 66})),
      Image1(decoration(*this, "Image1", ControlKind::Image, {12, 12, 60, 54})),
      session_(session) {
  setCaption(std::u16string(about::kCaption));
  geometry = {0, 0, 360, 274};
  Label1.fontSize = 9.75f;
  Label21.wordWrap = false;
  Image1.onClick = [this] { Image1_Click(); };
  Label21.onClick = [this] { Label21_Click(); };
  Form_Load();
}

void frmUG::Form_Load() { Label2.setCaption(aboutText()); }

void frmUG::BrowseTo(const std::u16string& address) {
  const std::uintptr_t window = session_.forms.windowHandle(*this);
  session_.shell.openAddress(window, address);
}

void frmUG::Image1_Click() { BrowseTo(std::u16string(about::kUserGuideAddress)); }

void frmUG::Label21_Click() { BrowseTo(std::u16string(about::kHomeAddress)); }

}  // namespace qmv
