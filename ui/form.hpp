// Forms as plain objects: a form owns named controls with properties and event handlers
// named after control and event. The platform's FormsToolkit (ui/forms_toolkit.hpp)
// shows and unloads them; form logic never knows which toolkit runs it.
//
// A toolkit that mirrors controls as real windows attaches a FormObserver and hears of
// every property change made by the code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmv {

class Form;

/// What a control is.
enum class ControlKind {
  Label,
  Frame,
  TextBox,
  ComboBox,
  CheckBox,
  OptionButton,
  CommandButton,
  ProgressBar,
  Image,
  Shape,
  Line
};

/// A combo box that allows typing, or a drop-down list without typing.
enum class ComboStyle { DropDownCombo, DropDownList };

/// Where a label's caption stands across its width.
enum class TextAlign { Left, Center };

/// Position and size in points, relative to the container.
struct Geometry {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
};

/// Properties a FormObserver hears about.
enum class ControlProperty {
  Caption,
  Text,
  Visible,
  Enabled,
  Tooltip,
  Checked,
  List,
  ListIndex,
  Max,
  ProgressValue
};

/// Key codes used by the key filters.
namespace keys {
inline constexpr int kBackspace = 8;
inline constexpr int kEnter = 13;
}  // namespace keys

/// One control of a form.
class Control {
 public:
  Control(Form& form, std::string name, ControlKind kind, std::string parent);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& name() const { return name_; }
  ControlKind kind() const { return kind_; }
  /// Name of the containing frame; empty for the form itself.
  const std::string& parent() const { return parent_; }
  Form& form() const { return form_; }

  /// Caption of a label, button, frame, check box or option button.
  const std::u16string& caption() const { return caption_; }
  void setCaption(std::u16string caption);
  /// How many captions were set so far: one who set the caption can tell it still shows.
  uint64_t captionChanges() const { return captionChanges_; }

  /// Text of a text box or combo box. Writing a combo's text selects the entry that
  /// matches it completely (raising Click when the index changes), or none.
  const std::u16string& text() const { return text_; }
  void setText(std::u16string text);

  bool visible() const { return visible_; }
  void setVisible(bool visible);
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled);
  const std::u16string& tooltip() const { return tooltip_; }
  void setTooltip(std::u16string tooltip);

  /// Value of a check box or option button. Setting an option button clears the other
  /// option buttons of the same container. Does not raise Click (see click()).
  bool checked() const { return checked_; }
  void setChecked(bool checked);

  /// Combo box list.
  void addItem(std::u16string entry);
  const std::vector<std::u16string>& list() const { return list_; }
  int listCount() const { return static_cast<int>(list_.size()); }
  /// Selected entry, -1 for none.
  int listIndex() const { return listIndex_; }
  /// Selects an entry (its text becomes the combo's text) and raises Click when it changes.
  /// Precondition: -1 <= index < listCount().
  void setListIndex(int index);

  /// Progress bar range and position (single precision, minimum 0).
  float max() const { return max_; }
  void setMax(float max);
  float value() const { return value_; }
  void setValue(float value);

  /// Raises the Click handler, if any.
  void click();

  /// Design-time properties, set while the form is built.
  int maxLength = 0;  ///< text box or typing into a combo; 0 = no limit
  ComboStyle comboStyle = ComboStyle::DropDownCombo;
  Geometry geometry;
  std::optional<uint32_t> backColor;  ///< 0xRRGGBB
  std::u16string fontName = u"Tahoma";
  float fontSize = 8.25f;
  bool wordWrap = false;
  TextAlign textAlign = TextAlign::Left;  ///< a label's caption
  bool etched = false;                    ///< a label drawn with an etched border

  /// Event handlers (absent ones do nothing).
  std::function<void()> onClick;
  std::function<void(int& keyAscii)> onKeyPress;  ///< set keyAscii to 0 to discard the key
  std::function<void(int& keyCode)> onKeyDown;
  std::function<void(int button)> onMouseDown;
  /// The text of a text box or combo box changed, by typing or by code (raised after
  /// Click, once the control holds its new state).
  std::function<void()> onChange;

 private:
  void changed(ControlProperty property);
  /// A combo box selects the entry its text matches completely, or none.
  void selectMatchingEntry();

  Form& form_;
  std::string name_;
  ControlKind kind_;
  std::string parent_;
  std::u16string caption_;
  uint64_t captionChanges_ = 0;
  std::u16string text_;
  bool visible_ = true;
  bool enabled_ = true;
  std::u16string tooltip_;
  bool checked_ = false;
  std::vector<std::u16string> list_;
  int listIndex_ = -1;
  float max_ = 100;
  float value_ = 0;
};

/// Hears of property changes made to a form's controls.
class FormObserver {
 public:
  virtual ~FormObserver() = default;
  virtual void controlChanged(Control& control, ControlProperty property) = 0;
  virtual void formChanged(Form& form) = 0;
  /// The form is being destroyed; it must not be used after this call.
  virtual void formDestroyed(Form& /*form*/) {}
};

/// A form: caption, controls in tab order, background handlers and its load state.
class Form {
 public:
  explicit Form(std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& name() const { return name_; }
  const std::u16string& caption() const { return caption_; }
  void setCaption(std::u16string caption);

  /// Adds a control; `parent` names its containing frame (empty for the form).
  Control& add(std::string name, ControlKind kind, std::string parent = {});
  /// Control by name; throws std::out_of_range when there is none.
  Control& control(std::string_view name) const;
  /// Control by name, or null.
  Control* find(std::string_view name) const;
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

  /// False once the form has been unloaded; an unloaded form is never shown again.
  bool loaded() const { return loaded_; }
  void markUnloaded() { loaded_ = false; }

  /// Design-time look.
  Geometry geometry;  ///< client size in points
  std::optional<uint32_t> backColor;

  /// Mouse pressed on the form's background.
  std::function<void(int button)> onMouseDown;
  /// The window's close box; return true to keep the form open. Absent: the form unloads.
  std::function<bool()> onQueryClose;
  /// Name of the control that stops a running run (a scripted "stop-at" presses it).
  std::string stopControl;

  void setObserver(FormObserver* observer) { observer_ = observer; }
  FormObserver* observer() const { return observer_; }

 private:
  std::string name_;
  std::u16string caption_;
  std::vector<std::unique_ptr<Control>> controls_;
  bool loaded_ = true;
  FormObserver* observer_ = nullptr;
};

}  // namespace qmv
