// A fresh add-in on a fresh in-memory host for each attempt of a reliability test, and
// helpers to take and compare pictures of a sheet.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace qmv::reliability {

/// Everything one attempt needs: host, user, toolkit, shell, module and connection object.
/// The host has "Book1" open and nothing else; nothing is connected yet.
struct World {
  World() { host->addWorkbook(); }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  /// Connects the add-in as the host would.
  void connectAddin() { connect.AddinInstance_OnConnection(host, instance.get()); }

  std::shared_ptr<memory::MemoryApplication> host = std::make_shared<memory::MemoryApplication>();
  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  AddinModule module{toolkit, shell};
  Connect connect{module};
  std::shared_ptr<AddInInstance> instance = host->makeAddInInstance(u"Orvik.Connect");
};

/// The contents of the cells of a rectangle of the active sheet, keyed by position.
using SheetPicture = std::map<std::pair<int64_t, int64_t>, CellContent>;

/// Takes the picture of rows 1..rows and columns 1..columns of the active sheet.
inline SheetPicture picture(const memory::MemoryApplication& host, int64_t rows, int64_t columns) {
  SheetPicture out;
  for (int64_t r = 1; r <= rows; ++r) {
    for (int64_t c = 1; c <= columns; ++c) out[{r, c}] = host.cell({r, c});
  }
  return out;
}

/// A readable rendering of a cell's content, with its kind.
inline std::string describe(const CellContent& content) {
  if (content.isFormula()) return "formula " + toUtf8(content.formula);
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "empty";
        } else if constexpr (std::is_same_v<T, double>) {
          return "number " + toUtf8(numberText(v));
        } else if constexpr (std::is_same_v<T, std::u16string>) {
          return "text '" + toUtf8(v) + "'";
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "Boolean TRUE" : "Boolean FALSE";
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return "date " + toUtf8(numberText(v.serial));
        } else {
          return "error " + toUtf8(errorText(v));
        }
      },
      content.value);
}

/// The name of a cell, "B3".
inline std::string cellName(int64_t row, int64_t column) {
  return toUtf8(columnLetters(column)) + std::to_string(row);
}

}  // namespace qmv::reliability
