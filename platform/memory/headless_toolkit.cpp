#include "platform/memory/headless_toolkit.hpp"

#include <algorithm>
#include <utility>

#include "host/text.hpp"

namespace qmv::memory {
namespace {

// Reads one character (a surrogate pair counts as one key) at `i`, advancing `i`.
char32_t nextKey(std::u16string_view text, std::size_t& i) {
  const char16_t unit = text[i++];
  if (isHighSurrogate(unit) && i < text.size() && isLowSurrogate(text[i])) {
    return pairCodePoint(unit, text[i++]);
  }
  return unit;
}

// The UTF-16 units of a key code, or nothing when it is no character.
std::u16string unitsOf(int key) {
  if (key <= 0 || key > 0x10FFFF || (key >= 0xD800 && key <= 0xDFFF)) return {};
  std::u16string units;
  appendUtf16(units, static_cast<char32_t>(key));
  return units;
}

// Removes the last character, keeping a surrogate pair together.
void dropLast(std::u16string& text) {
  if (text.empty()) return;
  const bool pair =
      text.size() >= 2 && isLowSurrogate(text.back()) && isHighSurrogate(text[text.size() - 2]);
  text.resize(text.size() - (pair ? 2 : 1));
}

std::string qualified(const Control& control) {
  return control.form().name() + "." + control.name();
}

std::string quoted(std::u16string_view text) {
  std::string out(1, '"');
  out += toUtf8(text);
  out += '"';
  return out;
}

// Control characters as script escapes, so that one event stays on one line.
std::string escaped(std::u16string_view text) { return toUtf8(escapeText(text, Escapes::OneLine)); }

bool editable(const Control& control) {
  return control.kind() == ControlKind::TextBox ||
         (control.kind() == ControlKind::ComboBox &&
          control.comboStyle == ComboStyle::DropDownCombo);
}

bool takesFocus(const Control& control) {
  switch (control.kind()) {
    case ControlKind::TextBox:
    case ControlKind::ComboBox:
    case ControlKind::CheckBox:
    case ControlKind::OptionButton:
    case ControlKind::CommandButton:
    case ControlKind::Frame:
      return true;
    default:
      return false;
  }
}

HeadlessEvent eventOf(HeadlessEventKind kind, std::string form = {}, std::u16string text = {}) {
  HeadlessEvent event;
  event.kind = kind;
  event.form = std::move(form);
  event.text = std::move(text);
  return event;
}

}  // namespace

ScriptEndedWhileShown::ScriptEndedWhileShown(std::string formName)
    : HeadlessError("the script ended while the form " + formName + " was shown"),
      formName_(std::move(formName)) {}

// ---------------------------------------------------------------------------------------
// QueuedUser

QueuedUser& QueuedUser::then(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

QueuedUser& QueuedUser::type(std::string control, std::u16string text) {
  return then(
      [control = std::move(control), text = std::move(text)](HeadlessToolkit& tk, Form& shown) {
        tk.type(HeadlessToolkit::controlOf(shown, control), text);
      });
}

QueuedUser& QueuedUser::paste(std::string control, std::u16string text) {
  return then(
      [control = std::move(control), text = std::move(text)](HeadlessToolkit& tk, Form& shown) {
        tk.paste(HeadlessToolkit::controlOf(shown, control), text);
      });
}

QueuedUser& QueuedUser::clear(std::string control) {
  return then([control = std::move(control)](HeadlessToolkit& tk, Form& shown) {
    tk.clear(HeadlessToolkit::controlOf(shown, control));
  });
}

QueuedUser& QueuedUser::press(std::string control) {
  return then([control = std::move(control)](HeadlessToolkit& tk, Form& shown) {
    tk.press(HeadlessToolkit::controlOf(shown, control));
  });
}

QueuedUser& QueuedUser::toggle(std::string control) {
  return then([control = std::move(control)](HeadlessToolkit& tk, Form& shown) {
    tk.toggle(HeadlessToolkit::controlOf(shown, control));
  });
}

QueuedUser& QueuedUser::pick(std::string control) {
  return then([control = std::move(control)](HeadlessToolkit& tk, Form& shown) {
    tk.pick(HeadlessToolkit::controlOf(shown, control));
  });
}

QueuedUser& QueuedUser::choose(std::string control, int index) {
  return then([control = std::move(control), index](HeadlessToolkit& tk, Form& shown) {
    tk.choose(HeadlessToolkit::controlOf(shown, control), index);
  });
}

QueuedUser& QueuedUser::choose(std::string control, std::u16string entry) {
  return then(
      [control = std::move(control), entry = std::move(entry)](HeadlessToolkit& tk, Form& shown) {
        tk.choose(HeadlessToolkit::controlOf(shown, control), std::u16string_view(entry));
      });
}

QueuedUser& QueuedUser::mouseDown(std::string control, int button) {
  return then([control = std::move(control), button](HeadlessToolkit& tk, Form& shown) {
    tk.mouseDown(HeadlessToolkit::controlOf(shown, control), button);
  });
}

QueuedUser& QueuedUser::keyDown(std::string control, int keyCode) {
  return then([control = std::move(control), keyCode](HeadlessToolkit& tk, Form& shown) {
    tk.keyDown(HeadlessToolkit::controlOf(shown, control), keyCode);
  });
}

QueuedUser& QueuedUser::mouseDownBackground(int button) {
  return then([button](HeadlessToolkit& tk, Form& shown) { tk.mouseDown(shown, button); });
}

QueuedUser& QueuedUser::close() {
  return then([](HeadlessToolkit& tk, Form&) { tk.close(); });
}

QueuedUser& QueuedUser::expectForm(std::string formName) {
  return then([formName = std::move(formName)](HeadlessToolkit&, Form& shown) {
    if (shown.name() != formName) {
      throw HeadlessError("expected the form " + formName + " to be shown, but " + shown.name() +
                          " is");
    }
  });
}

bool QueuedUser::act(HeadlessToolkit& toolkit, Form& shown) {
  if (actions_.empty()) return false;
  Action action = std::move(actions_.front());
  actions_.pop_front();
  action(toolkit, shown);
  return true;
}

// ---------------------------------------------------------------------------------------
// Events

std::string describe(const HeadlessEvent& event) {
  switch (event.kind) {
    case HeadlessEventKind::FormShown:
      return "form shown: " + event.form;
    case HeadlessEventKind::FormUnloaded:
      return "form unloaded: " + event.form;
    case HeadlessEventKind::FormLoaded:
      return "form loaded: " + event.form;
    case HeadlessEventKind::MessageBox:
      return "message: " + escaped(event.text);
    case HeadlessEventKind::InputBox: {
      std::string line = "input: " + escaped(event.text) + " [" + escaped(event.title) + "] -> ";
      if (!event.cancelled) return line + "\"" + escaped(event.answer) + "\"";
      return line + (event.unanswered ? "cancel (no answer queued)" : "cancel");
    }
    case HeadlessEventKind::WindowMove:
      return "window move: " + event.form;
    case HeadlessEventKind::StopPressed:
      return "stop: " + event.form + "." + event.control + " pressed during yield " +
             std::to_string(event.yield);
    case HeadlessEventKind::StopMissed:
      return "stop missed during yield " + std::to_string(event.yield) + ": " + escaped(event.text);
    case HeadlessEventKind::ActionRefused:
      return "refused: " + escaped(event.text);
    case HeadlessEventKind::ScriptEnded:
      return "script ended while " + event.form + " was shown";
  }
  return {};
}

void HeadlessToolkit::emit(HeadlessEvent event) {
  events_.push_back(std::move(event));
  if (listener_) listener_(events_.back());
}

// ---------------------------------------------------------------------------------------
// FormsToolkit

void HeadlessToolkit::showModal(Form& form) {
  if (!form.loaded()) {
    throw HeadlessError("the form " + form.name() + " was unloaded and cannot be shown");
  }
  if (isShown(form)) throw HeadlessError("the form " + form.name() + " is already shown");

  shown_.push_back(Shown{&form});
  states_[form.name()] = FormState::Shown;
  emit(eventOf(HeadlessEventKind::FormShown, form.name()));

  // Pops this form on every way out; the form is the topmost one at that time.
  struct Pop {
    std::deque<Shown>& shown;
    ~Pop() { shown.pop_back(); }
  } pop{shown_};

  try {
    while (form.loaded()) {
      if (user_ == nullptr || !user_->act(*this, form)) {
        scriptEnded_ = true;
        emit(eventOf(HeadlessEventKind::ScriptEnded, form.name()));
        throw ScriptEndedWhileShown(form.name());
      }
    }
  } catch (...) {
    // An aborted modal display leaves no form behind.
    unload(form);
    throw;
  }
}

void HeadlessToolkit::unload(Form& form) {
  if (!form.loaded()) return;
  form.markUnloaded();
  handles_.erase(&form);
  states_[form.name()] = FormState::Unloaded;
  emit(eventOf(HeadlessEventKind::FormUnloaded, form.name()));
  // A run that yielded and ended before a scheduled stop's yield takes the stop with it, so
  // it never lands in a later run.
  for (auto it = schedule_.begin(); it != schedule_.end();) {
    if (it->endsWithRun && yields_ > it->fromYield) {
      HeadlessEvent event =
          eventOf(HeadlessEventKind::StopMissed, form.name(), u"the run ended before its yield");
      event.yield = yields_;
      emit(std::move(event));
      it = schedule_.erase(it);
    } else {
      ++it;
    }
  }
}

std::uintptr_t HeadlessToolkit::windowHandle(Form& form) {
  if (auto it = handles_.find(&form); it != handles_.end()) return it->second;
  lastHandle_ += 0x10;
  const std::uintptr_t handle = 0x10000 + lastHandle_;
  handles_.emplace(&form, handle);
  if (!isShown(form)) {
    states_[form.name()] = FormState::Loaded;
    emit(eventOf(HeadlessEventKind::FormLoaded, form.name()));
  }
  return handle;
}

void HeadlessToolkit::beginWindowMove(Form& form) {
  windowMoves_.push_back(form.name());
  emit(eventOf(HeadlessEventKind::WindowMove, form.name()));
}

void HeadlessToolkit::messageBox(const std::u16string& text, MessageIcon icon) {
  messages_.push_back({text, icon});
  HeadlessEvent event = eventOf(HeadlessEventKind::MessageBox, {}, text);
  event.icon = icon;
  emit(std::move(event));
}

std::u16string HeadlessToolkit::inputBox(const std::u16string& prompt,
                                         const std::u16string& title) {
  InputBoxRecord record;
  record.prompt = prompt;
  record.title = title;
  if (answers_.empty()) {
    record.unanswered = true;
    record.cancelled = true;
  } else {
    std::optional<std::u16string> answer = std::move(answers_.front());
    answers_.pop_front();
    if (answer) {
      record.answer = std::move(*answer);
    } else {
      record.cancelled = true;
    }
  }
  inputBoxes_.push_back(record);
  HeadlessEvent event = eventOf(HeadlessEventKind::InputBox, {}, prompt);
  event.title = title;
  event.answer = record.answer;
  event.cancelled = record.cancelled;
  event.unanswered = record.unanswered;
  emit(std::move(event));
  return record.answer;
}

void HeadlessToolkit::doEvents() {
  const uint64_t now = ++yields_;
  if (schedule_.empty()) return;  // the usual case, once per cell of a run
  std::vector<std::function<void(HeadlessToolkit&)>> due;
  for (auto it = schedule_.begin(); it != schedule_.end();) {
    if (it->atYield == now) {
      due.push_back(std::move(it->action));
      it = schedule_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& action : due) action(*this);
}

// ---------------------------------------------------------------------------------------
// Checks

std::optional<std::string> HeadlessToolkit::whyNotActionable(const Control& control) const {
  const Form& form = control.form();
  const Form* top = topForm();
  if (top == nullptr) return "no form is shown (" + qualified(control) + ")";
  if (&form != top) {
    return "the form " + form.name() + " is not the active form (" + top->name() +
           " is shown over it): " + qualified(control);
  }
  // Walk out through the containing frames; the bound guards against a frame cycle.
  const Control* current = &control;
  for (std::size_t depth = 0; current != nullptr && depth <= form.controls().size(); ++depth) {
    const std::string where =
        current == &control ? "" : " (inside the frame " + current->name() + ")";
    if (!current->visible()) {
      return qualified(control) + " is hidden" + where;
    }
    if (!current->enabled()) {
      return qualified(control) + " is disabled" + where;
    }
    current = current->parent().empty() ? nullptr : form.find(current->parent());
  }
  return std::nullopt;
}

void HeadlessToolkit::refuse(const std::string& why) {
  emit(eventOf(HeadlessEventKind::ActionRefused, {}, toUtf16(why)));
  throw UserActionRefused(why);
}

void HeadlessToolkit::requireActionable(const Control& control) {
  if (auto why = whyNotActionable(control)) refuse(*why);
}

void HeadlessToolkit::requireKind(const Control& control, ControlKind kind, const char* what) {
  if (control.kind() != kind) refuse(qualified(control) + " is not " + what);
}

void HeadlessToolkit::requireEditable(const Control& control) {
  if (control.kind() == ControlKind::ComboBox && !editable(control)) {
    refuse(qualified(control) + " is a drop-down list and takes no typing");
  }
  if (!editable(control)) refuse(qualified(control) + " is not a text box or combo box");
}

HeadlessToolkit::Shown* HeadlessToolkit::entryOf(const Form& form) {
  for (auto& entry : shown_) {
    if (entry.form == &form) return &entry;
  }
  return nullptr;
}

void HeadlessToolkit::focus(Control& control, bool selectWholeText) {
  if (Shown* entry = entryOf(control.form())) {
    entry->focused = &control;
    entry->wholeTextSelected = selectWholeText;
  }
}

void HeadlessToolkit::enterForTyping(Control& control) {
  Shown* entry = entryOf(control.form());
  if (entry != nullptr && entry->focused != &control) {
    entry->focused = &control;
    entry->wholeTextSelected = true;
  }
}

bool HeadlessToolkit::wholeTextSelected(const Control& control) {
  const Shown* entry = entryOf(control.form());
  return entry != nullptr && entry->focused == &control && entry->wholeTextSelected;
}

void HeadlessToolkit::insert(Control& control, std::u16string_view units, bool cutToFit) {
  std::u16string text = wholeTextSelected(control) ? std::u16string() : control.text();
  std::size_t room = std::u16string::npos;
  if (control.maxLength > 0) {
    const auto max = static_cast<std::size_t>(control.maxLength);
    room = max > text.size() ? max - text.size() : 0;
  }
  if (units.size() > room) {
    if (!cutToFit) return;
    units = units.substr(0, room);
    if (!units.empty() && isHighSurrogate(units.back())) units.remove_suffix(1);
  }
  if (units.empty()) return;
  text.append(units);
  focus(control, false);
  control.setText(std::move(text));
}

// ---------------------------------------------------------------------------------------
// User actions

void HeadlessToolkit::type(Control& control, std::u16string_view text) {
  requireActionable(control);
  requireEditable(control);
  enterForTyping(control);
  std::size_t i = 0;
  while (i < text.size()) {
    // A handler of an earlier key may have hidden, disabled or closed the box.
    if (i > 0) requireActionable(control);
    int key = static_cast<int>(nextKey(text, i));
    if (control.onKeyPress) control.onKeyPress(key);
    if (key == 0) continue;
    if (key == keys::kBackspace) {
      std::u16string remaining = wholeTextSelected(control) ? std::u16string() : control.text();
      dropLast(remaining);
      focus(control, false);
      if (remaining != control.text()) control.setText(std::move(remaining));
      continue;
    }
    // Enter and the other control keys insert nothing into a one-line box.
    if (key < 0x20) continue;
    insert(control, unitsOf(key), false);
  }
}

void HeadlessToolkit::paste(Control& control, std::u16string_view text) {
  requireActionable(control);
  requireEditable(control);
  enterForTyping(control);
  insert(control, text, true);
}

void HeadlessToolkit::clear(Control& control) {
  requireActionable(control);
  requireEditable(control);
  focus(control, false);
  if (!control.text().empty()) control.setText(std::u16string());
}

void HeadlessToolkit::press(Control& button) {
  requireActionable(button);
  if (button.kind() == ControlKind::Label || button.kind() == ControlKind::Image) {
    // A clickable label or picture (the About form's footer and logo) takes no focus.
    if (!button.onClick) refuse(qualified(button) + " is not clickable");
    button.click();
    return;
  }
  requireKind(button, ControlKind::CommandButton, "a command button");
  focus(button, false);
  button.click();
}

void HeadlessToolkit::toggle(Control& checkBox) {
  requireActionable(checkBox);
  requireKind(checkBox, ControlKind::CheckBox, "a check box");
  focus(checkBox, false);
  checkBox.setChecked(!checkBox.checked());
  checkBox.click();
}

void HeadlessToolkit::pick(Control& optionButton) {
  requireActionable(optionButton);
  requireKind(optionButton, ControlKind::OptionButton, "an option button");
  focus(optionButton, false);
  optionButton.setChecked(true);
  optionButton.click();
}

void HeadlessToolkit::choose(Control& combo, int index) {
  requireActionable(combo);
  requireKind(combo, ControlKind::ComboBox, "a combo box");
  if (index < 0 || index >= combo.listCount()) {
    refuse(qualified(combo) + " has no entry " + std::to_string(index) + " (it has " +
           std::to_string(combo.listCount()) + ")");
  }
  focus(combo, true);
  combo.setListIndex(index);
}

void HeadlessToolkit::choose(Control& combo, std::u16string_view entry) {
  requireActionable(combo);
  requireKind(combo, ControlKind::ComboBox, "a combo box");
  const auto& list = combo.list();
  const auto it = std::find(list.begin(), list.end(), entry);
  if (it == list.end()) refuse(qualified(combo) + " has no entry " + quoted(entry));
  choose(combo, static_cast<int>(it - list.begin()));
}

void HeadlessToolkit::mouseDown(Control& control, int button) {
  requireActionable(control);
  if (takesFocus(control)) focus(control, false);
  if (control.onMouseDown) control.onMouseDown(button);
}

void HeadlessToolkit::mouseDown(Form& form, int button) {
  const Form* top = topForm();
  if (top != &form) {
    refuse("the form " + form.name() + " is not the active form" +
           (top != nullptr ? " (" + top->name() + " is shown)" : std::string(" (none is shown)")));
  }
  if (form.onMouseDown) form.onMouseDown(button);
}

void HeadlessToolkit::keyDown(Control& control, int keyCode) {
  requireActionable(control);
  focus(control, false);
  if (control.onKeyDown) control.onKeyDown(keyCode);
}

void HeadlessToolkit::close() {
  Form* top = topForm();
  if (top == nullptr) refuse("no form is shown to close");
  if (top->onQueryClose && top->onQueryClose()) return;
  unload(*top);
}

Control& HeadlessToolkit::shownControl(std::string_view name) const {
  const Form* top = topForm();
  if (top == nullptr) {
    throw UserActionRefused("no form is shown (looking for " + std::string(name) + ")");
  }
  return controlOf(*top, name);
}

Control& HeadlessToolkit::controlOf(const Form& form, std::string_view name) {
  if (Control* control = form.find(name)) return *control;
  throw UserActionRefused("the form " + form.name() + " has no control " + std::string(name));
}

// ---------------------------------------------------------------------------------------
// Answers and yields

void HeadlessToolkit::queueAnswer(std::u16string text) { answers_.emplace_back(std::move(text)); }

void HeadlessToolkit::queueCancel() { answers_.emplace_back(std::nullopt); }

void HeadlessToolkit::scheduleStop(uint64_t n) {
  scheduleDuringYield(n, [](HeadlessToolkit& tk) { tk.pressStop(); });
  schedule_.back().fromYield = yields_;
  schedule_.back().endsWithRun = true;
}

void HeadlessToolkit::scheduleDuringYield(uint64_t n,
                                          std::function<void(HeadlessToolkit&)> action) {
  if (n == 0) throw HeadlessError("a yield is scheduled from 1 on");
  schedule_.push_back({yields_ + n, std::move(action)});
}

void HeadlessToolkit::pressStop() {
  const auto missed = [this](const std::string& why) {
    HeadlessEvent event = eventOf(HeadlessEventKind::StopMissed, {}, toUtf16(why));
    event.yield = yields_;
    emit(std::move(event));
  };
  Form* top = topForm();
  if (top == nullptr) return missed("no form is shown");
  if (top->stopControl.empty()) return missed("the form " + top->name() + " has no stop control");
  Control* stop = top->find(top->stopControl);
  if (stop == nullptr) {
    return missed("the form " + top->name() + " has no control " + top->stopControl);
  }
  if (auto why = whyNotActionable(*stop)) return missed(*why);
  HeadlessEvent event = eventOf(HeadlessEventKind::StopPressed, top->name());
  event.control = stop->name();
  event.yield = yields_;
  emit(std::move(event));
  focus(*stop, false);
  stop->click();
}

// ---------------------------------------------------------------------------------------
// State

std::vector<Form*> HeadlessToolkit::shownForms() const {
  std::vector<Form*> forms;
  forms.reserve(shown_.size());
  for (const auto& entry : shown_) forms.push_back(entry.form);
  return forms;
}

Form* HeadlessToolkit::topForm() const { return shown_.empty() ? nullptr : shown_.back().form; }

Form* HeadlessToolkit::shownForm(std::string_view name) const {
  for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
    if (it->form->name() == name) return it->form;
  }
  return nullptr;
}

bool HeadlessToolkit::isShown(const Form& form) const {
  return std::any_of(shown_.begin(), shown_.end(),
                     [&](const Shown& entry) { return entry.form == &form; });
}

FormState HeadlessToolkit::formState(std::string_view name) const {
  const auto it = states_.find(name);
  return it == states_.end() ? FormState::Unknown : it->second;
}

}  // namespace qmv::memory
