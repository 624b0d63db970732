// The wizard opened through its command on the in-memory host, with the user's actions
// queued before it is shown.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "host/cell_text.hpp"
#include "support/engine_fixture.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::testing {

class WizardFixture : public EngineFixture {
 protected:
  /// Opens the wizard; the queued actions run while it is shown. Returns when it closes.
  void openWizard() { ShowWizard(module); }

  /// The wizard of the last opening (it stays readable after it was unloaded).
  frmTextRemover& wizard() { return *module.textRemover; }
  Control& control(std::string_view name) { return wizard().control(name); }

  /// Texts down column A from A1, selected.
  void column(const std::vector<std::u16string>& texts) {
    std::vector<Value> values;
    for (const auto& t : texts) values.emplace_back(t);
    host->setColumn({1, 1}, values);
    host->select(u"A1:A" + toU16(texts.size()));
  }

  /// A cell's value as the add-in reads it; "<error>" for an error value.
  std::u16string textAt(int64_t row, int64_t column = 1) const {
    return cellText(valueAt(row, column), HostLocale{}).value_or(u"<error>");
  }

  /// Queues the choices of position mode with the start position from a separator.
  memory::QueuedUser& separatorMode() { return user.toggle("chkConSP"); }

  /// Queues Before or After, and either all characters or a number of them.
  memory::QueuedUser& cut(bool before, std::optional<std::u16string> count) {
    if (before) user.pick("optRight");
    if (count) return user.type("txtNoOfChars", *count);
    return user.toggle("chkAllChars");
  }

  static std::u16string toU16(std::size_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  }
};

}  // namespace qmv::testing
