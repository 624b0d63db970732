// The set-up of a benchmark that runs a command over one column: the add-in over a fresh
// in-memory host with one workbook open, the values written down column A from A1 and
// selected, and Yes queued for the command's dialog (after the texts pasted into its boxes,
// one change and so one preview each).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addin/addin_module.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace qmv::bench {

struct ColumnRun {
  explicit ColumnRun(const std::vector<Value>& values,
                     const std::vector<std::pair<std::string, std::u16string>>& pasted = {}) {
    module.hostApp = host;
    host->addWorkbook();
    host->setColumn({1, 1}, values);
    const std::string last = std::to_string(values.size());
    host->select(u"A1:A" + std::u16string(last.begin(), last.end()));
    for (const auto& [box, text] : pasted) user.paste(box, text);
    user.press("CommandButton1");
  }
  ColumnRun(const ColumnRun&) = delete;
  ColumnRun& operator=(const ColumnRun&) = delete;

  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  std::shared_ptr<memory::MemoryApplication> host = std::make_shared<memory::MemoryApplication>();
  AddinModule module{toolkit, shell};
};

}  // namespace qmv::bench
