// A run observer over a form: progress on the form's bar and percentage label, yields
// and messages through the forms toolkit, the stop request from the session's run
// options, and the form unloaded when the run ends.
#pragma once

#include <string>

#include "engine/run.hpp"
#include "ui/form.hpp"
#include "ui/progress_display.hpp"
#include "ui/session.hpp"

namespace qmv {

class FormRunObserver : public RunObserver {
 public:
  FormRunObserver(FormsSession& session, Form& form, Control& bar, Control& label)
      : session_(session), form_(form), progress_(bar, label) {}

  void started() override { session_.runOptions.stopRequested = false; }
  void setMaximum(float maximum) override { progress_.setMax(maximum); }
  void yield() override { session_.forms.doEvents(); }
  void progress(float step) override { progress_.show(step); }
  bool stopRequested() override { return session_.runOptions.stopRequested; }
  void message(const std::u16string& text) override { session_.forms.messageBox(text); }
  /// Unloads the form unless it is unloaded already.
  void finish() override {
    if (form_.loaded()) session_.forms.unload(form_);
  }

 private:
  FormsSession& session_;
  Form& form_;
  ProgressDisplay progress_;
};

}  // namespace qmv
