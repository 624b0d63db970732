#include "ui/form.hpp"

#include <stdexcept>
#include <utility>

namespace qmv {

Control::Control(Form& form, std::string name, ControlKind kind, std::string parent)
    : form_(form), name_(std::move(name)), kind_(kind), parent_(std::move(parent)) {}

void Control::changed(ControlProperty property) {
  if (auto* observer = form_.observer()) observer->controlChanged(*this, property);
}

void Control::setCaption(std::u16string caption) {
  caption_ = std::move(caption);
  ++captionChanges_;
  changed(ControlProperty::Caption);
}

void Control::setText(std::u16string text) {
  const bool differs = text != text_;
  text_ = std::move(text);
  changed(ControlProperty::Text);
  selectMatchingEntry();
  if (differs && onChange) onChange();
}

void Control::selectMatchingEntry() {
  if (kind_ != ControlKind::ComboBox) return;
  int match = -1;
  for (std::size_t i = 0; i < list_.size(); ++i) {
    if (list_[i] == text_) {
      match = static_cast<int>(i);
      break;
    }
  }
  if (match != listIndex_) {
    listIndex_ = match;
    changed(ControlProperty::ListIndex);
    click();
  }
}

void Control::setVisible(bool visible) {
  visible_ = visible;
  changed(ControlProperty::Visible);
}

void Control::setEnabled(bool enabled) {
  enabled_ = enabled;
  changed(ControlProperty::Enabled);
}

void Control::setTooltip(std::u16string tooltip) {
  tooltip_ = std::move(tooltip);
  changed(ControlProperty::Tooltip);
}

void Control::setChecked(bool checked) {
  checked_ = checked;
  changed(ControlProperty::Checked);
  if (kind_ == ControlKind::OptionButton && checked) {
    for (const auto& other : form_.controls()) {
      if (other.get() != this && other->kind() == ControlKind::OptionButton &&
          other->parent() == parent_ && other->checked_) {
        other->checked_ = false;
        other->changed(ControlProperty::Checked);
      }
    }
  }
}

void Control::addItem(std::u16string entry) {
  list_.push_back(std::move(entry));
  changed(ControlProperty::List);
}

void Control::setListIndex(int index) {
  if (index < -1 || index >= listCount()) throw std::out_of_range("list index");
  const bool moved = index != listIndex_;
  const bool differs = index >= 0 && list_[static_cast<std::size_t>(index)] != text_;
  listIndex_ = index;
  if (index >= 0) text_ = list_[static_cast<std::size_t>(index)];
  changed(ControlProperty::ListIndex);
  changed(ControlProperty::Text);
  if (moved) click();
  if (differs && onChange) onChange();
}

void Control::setMax(float max) {
  max_ = max;
  changed(ControlProperty::Max);
}

void Control::setValue(float value) {
  value_ = value;
  changed(ControlProperty::ProgressValue);
}

void Control::click() {
  if (onClick) onClick();
}

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() {
  if (observer_) observer_->formDestroyed(*this);
}

void Form::setCaption(std::u16string caption) {
  caption_ = std::move(caption);
  if (observer_) observer_->formChanged(*this);
}

Control& Form::add(std::string name, ControlKind kind, std::string parent) {
  controls_.push_back(std::make_unique<Control>(*this, std::move(name), kind, std::move(parent)));
  return *controls_.back();
}

Control& Form::control(std::string_view name) const {
  if (auto* c = find(name)) return *c;
  throw std::out_of_range("no control " + std::string(name));
}

Control* Form::find(std::string_view name) const {
  for (const auto& c : controls_) {
    if (c->name() == name) return c.get();
  }
  return nullptr;
}

}  // namespace qmv
