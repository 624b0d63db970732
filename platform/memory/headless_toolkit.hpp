// The headless forms toolkit: shows forms modally without windows. While a form is shown,
// a HeadlessUser (a test's queue of actions, or a script interpreter) acts on it through
// the same handlers a real user would reach: typing key by key through the key filters,
// pasting, pressing buttons, ticking boxes, choosing combo entries, pressing the mouse and
// closing the window. Message and input boxes are recorded; input boxes take their answers
// from a queue. Every visible effect is also reported as a HeadlessEvent for transcripts.
//
// Typing follows the usual focus rule of a form's text fields: entering a box selects its
// whole text, so the first typed key replaces it and further keys go to the end. The box
// keeps the focus until the user acts on another control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ui/form.hpp"
#include "ui/forms_toolkit.hpp"

namespace qmv::memory {

class HeadlessToolkit;

/// A failure of the headless toolkit itself (a misuse or a script that cannot go on).
class HeadlessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A user action that the shown form does not accept (hidden or disabled control, a
/// control of a form under another modal form, the wrong kind of control, ...).
class UserActionRefused : public HeadlessError {
 public:
  using HeadlessError::HeadlessError;
};

/// The user had nothing left to do while a form was shown; the form has been unloaded.
class ScriptEndedWhileShown : public HeadlessError {
 public:
  explicit ScriptEndedWhileShown(std::string formName);
  /// Name of the form that was shown.
  const std::string& formName() const noexcept { return formName_; }

 private:
  std::string formName_;
};

/// The one who acts on shown forms.
class HeadlessUser {
 public:
  virtual ~HeadlessUser() = default;
  /// Performs the next action on `shown`, the topmost shown form; false when nothing is left.
  virtual bool act(HeadlessToolkit& toolkit, Form& shown) = 0;
};

/// A user that performs queued actions in order, one per call of act().
class QueuedUser : public HeadlessUser {
 public:
  using Action = std::function<void(HeadlessToolkit&, Form&)>;

  /// Queues any action.
  QueuedUser& then(Action action);
  /// Queues the matching toolkit action on the named control of the form shown at the time.
  QueuedUser& type(std::string control, std::u16string text);
  QueuedUser& paste(std::string control, std::u16string text);
  QueuedUser& clear(std::string control);
  QueuedUser& press(std::string control);
  QueuedUser& toggle(std::string control);
  QueuedUser& pick(std::string control);
  QueuedUser& choose(std::string control, int index);
  QueuedUser& choose(std::string control, std::u16string entry);
  QueuedUser& mouseDown(std::string control, int button = 1);
  QueuedUser& keyDown(std::string control, int keyCode);
  /// Mouse pressed on the shown form's background.
  QueuedUser& mouseDownBackground(int button = 1);
  /// The shown form's close box.
  QueuedUser& close();
  /// Fails with HeadlessError unless the shown form is `formName` (guards against a script
  /// that acts on the wrong form).
  QueuedUser& expectForm(std::string formName);

  bool act(HeadlessToolkit& toolkit, Form& shown) override;
  /// Actions not yet performed.
  std::size_t pending() const { return actions_.size(); }

 private:
  std::deque<Action> actions_;
};

/// What the user sees, in order.
enum class HeadlessEventKind {
  FormShown,      ///< a form was shown modally
  FormUnloaded,   ///< a form was unloaded
  FormLoaded,     ///< a form's window was created without showing it
  MessageBox,     ///< text, icon
  InputBox,       ///< text = prompt, title, answer, cancelled
  WindowMove,     ///< the form's window was dragged by its background
  StopPressed,    ///< a scheduled stop pressed the form's stop control (control, yield)
  StopMissed,     ///< a scheduled stop found nothing to press (text = why)
  ActionRefused,  ///< a user action was refused (text = why)
  ScriptEnded     ///< the user had nothing left while the form was shown
};

/// One thing the user saw.
struct HeadlessEvent {
  HeadlessEventKind kind = HeadlessEventKind::FormShown;
  std::string form;     ///< the form concerned, when there is one
  std::string control;  ///< StopPressed: the stop control
  std::u16string text;  ///< message text, input prompt or the reason of a refusal or miss
  std::u16string title;
  std::u16string answer;
  MessageIcon icon = MessageIcon::None;
  bool cancelled = false;   ///< input box answered with Cancel (or not answered at all)
  bool unanswered = false;  ///< input box shown with no answer queued
  uint64_t yield = 0;       ///< StopPressed / StopMissed: the yield it happened in
};

/// One transcript line for the event, in UTF-8 (control characters escaped as in scripts:
/// \n, \r, \t, \uXXXX). A message box reads "message: TEXT".
std::string describe(const HeadlessEvent& event);

/// A message box that was shown.
struct MessageRecord {
  std::u16string text;
  MessageIcon icon = MessageIcon::None;
};

/// An input box that was shown and how it was answered.
struct InputBoxRecord {
  std::u16string prompt;
  std::u16string title;
  std::u16string answer;
  bool cancelled = false;   ///< Cancel, queued or for want of an answer
  bool unanswered = false;  ///< no answer was queued
};

/// What the toolkit last saw of a form of that name.
enum class FormState { Unknown, Loaded, Shown, Unloaded };

/// The headless forms toolkit.
class HeadlessToolkit : public FormsToolkit {
 public:
  HeadlessToolkit() = default;
  explicit HeadlessToolkit(HeadlessUser& user) : user_(&user) {}
  HeadlessToolkit(const HeadlessToolkit&) = delete;
  HeadlessToolkit& operator=(const HeadlessToolkit&) = delete;

  /// The user asked for actions while a form is shown; null for none.
  void setUser(HeadlessUser* user) { user_ = user; }

  // FormsToolkit.
  /// Asks the user for actions until the form is unloaded. Throws ScriptEndedWhileShown
  /// when the user has nothing left; any exception leaving it unloads the form first.
  void showModal(Form& form) override;
  void unload(Form& form) override;
  std::uintptr_t windowHandle(Form& form) override;
  void beginWindowMove(Form& form) override;
  void messageBox(const std::u16string& text, MessageIcon icon = MessageIcon::None) override;
  std::u16string inputBox(const std::u16string& prompt, const std::u16string& title) override;
  /// Counts the yield and runs what was scheduled for it.
  void doEvents() override;

  // User actions on the topmost shown form. Each throws UserActionRefused when the control
  // is hidden or disabled (or inside a hidden or disabled frame), belongs to a form that is
  // not the topmost shown one, or is of the wrong kind.
  /// Types key by key through the control's KeyPress filter and maximum length.
  void type(Control& control, std::u16string_view text);
  /// Inserts the text without key filtering, cut at the maximum length.
  void paste(Control& control, std::u16string_view text);
  /// Empties a text box or an editable combo box.
  void clear(Control& control);
  /// Clicks a command button, or a label or picture that has a Click handler.
  void press(Control& button);
  /// Flips a check box, then raises its Click.
  void toggle(Control& checkBox);
  /// Selects an option button (clearing the others of its container), then raises Click.
  void pick(Control& optionButton);
  /// Chooses a combo entry by index; Click follows when the selection changes.
  void choose(Control& combo, int index);
  /// Chooses the first combo entry whose text is `entry`.
  void choose(Control& combo, std::u16string_view entry);
  /// Presses a mouse button on the control.
  void mouseDown(Control& control, int button = 1);
  /// Presses a mouse button on the form's background.
  void mouseDown(Form& form, int button = 1);
  /// Presses a key while the control has the focus (KeyDown).
  void keyDown(Control& control, int keyCode);
  /// The topmost form's close box: unloads it unless its QueryClose keeps it open.
  void close();

  /// The named control of the topmost shown form (UserActionRefused when there is none).
  Control& shownControl(std::string_view name) const;
  /// The named control of `form` (UserActionRefused when there is none).
  static Control& controlOf(const Form& form, std::string_view name);

  // Input box answers, used in order.
  void queueAnswer(std::u16string text);
  void queueCancel();
  std::size_t queuedAnswers() const { return answers_.size(); }

  // Yields.
  /// Yields so far.
  uint64_t yields() const { return yields_; }
  /// During the nth yield of the next run (n >= 1), presses the stop control of the topmost
  /// shown form, as a user clicking Stop. A run that ends sooner drops the request.
  void scheduleStop(uint64_t n);
  /// During the nth yield from now (n >= 1), runs `action`.
  void scheduleDuringYield(uint64_t n, std::function<void(HeadlessToolkit&)> action);
  /// Scheduled actions not yet run.
  std::size_t scheduled() const { return schedule_.size(); }

  // What is shown.
  /// Shown forms, the topmost last.
  std::vector<Form*> shownForms() const;
  /// The topmost shown form, or null.
  Form* topForm() const;
  /// The shown form of that name, or null.
  Form* shownForm(std::string_view name) const;
  bool isShown(const Form& form) const;
  /// The last state seen of a form of that name.
  FormState formState(std::string_view name) const;
  /// True once a user ran out of actions while a form was shown (even when the error was
  /// swallowed by the code that showed the form).
  bool scriptEnded() const { return scriptEnded_; }

  // Records.
  const std::vector<MessageRecord>& messages() const { return messages_; }
  const std::vector<InputBoxRecord>& inputBoxes() const { return inputBoxes_; }
  /// Names of the forms whose window move was begun, in order.
  const std::vector<std::string>& windowMoves() const { return windowMoves_; }
  const std::vector<HeadlessEvent>& events() const { return events_; }
  /// Hears every event as it happens.
  void setListener(std::function<void(const HeadlessEvent&)> listener) {
    listener_ = std::move(listener);
  }

 private:
  struct Shown {
    Form* form;
    Control* focused = nullptr;
    bool wholeTextSelected = false;
  };
  struct Scheduled {
    uint64_t atYield;
    std::function<void(HeadlessToolkit&)> action;
    uint64_t fromYield = 0;    ///< yields when it was scheduled
    bool endsWithRun = false;  ///< dropped when the next run ends before its yield
  };

  void emit(HeadlessEvent event);
  std::optional<std::string> whyNotActionable(const Control& control) const;
  [[noreturn]] void refuse(const std::string& why);
  void requireActionable(const Control& control);
  void requireKind(const Control& control, ControlKind kind, const char* what);
  void requireEditable(const Control& control);
  Shown* entryOf(const Form& form);
  void focus(Control& control, bool selectWholeText);
  void enterForTyping(Control& control);
  bool wholeTextSelected(const Control& control);
  void insert(Control& control, std::u16string_view units, bool cutToFit);
  void pressStop();

  HeadlessUser* user_ = nullptr;
  std::deque<Shown> shown_;  // a deque keeps entries in place while nested forms come and go
  std::map<std::string, FormState, std::less<>> states_;
  std::map<const Form*, std::uintptr_t> handles_;
  std::uintptr_t lastHandle_ = 0;
  std::deque<std::optional<std::u16string>> answers_;
  uint64_t yields_ = 0;
  std::vector<Scheduled> schedule_;
  bool scriptEnded_ = false;
  std::vector<MessageRecord> messages_;
  std::vector<InputBoxRecord> inputBoxes_;
  std::vector<std::string> windowMoves_;
  std::vector<HeadlessEvent> events_;
  std::function<void(const HeadlessEvent&)> listener_;
};

}  // namespace qmv::memory
