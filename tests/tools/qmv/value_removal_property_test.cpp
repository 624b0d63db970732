// The file tool's value removals (two passes over the file, one count per distinct value)
// against the add-in's engine on the in-memory workbook: on random columns both clear the
// same cells.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "host/text.hpp"
#include "support/engine_fixture.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/csv.hpp"
#include "tools/qmv/csv_stream.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;

struct Mode {
  const char* name;
  void (*command)(AddinModule&);
};

// Texts that meet the engine's rules: letter case (Vietnamese, Romanian, Deseret too),
// accented and Greek capitals, spaces,
// a character beyond U+FFFF, texts at and beyond the 255 characters of a count criterion,
// and characters that are wildcards or operators in other hosts' criteria.
std::vector<std::u16string> alphabet() {
  const std::u16string p255(255, u'p');
  std::u16string upper = p255;
  upper[0] = u'P';
  std::u16string longer = p255;
  longer.push_back(u'q');
  std::u16string longerUpper = p255;
  longerUpper.push_back(u'Q');
  return {u"",          u"x",         u"X",      u"y",          u" x",         u"\u00E9",
          u"\u00C9",    u"\u03A3",    u"\u03C3", u"\U0001F600", p255,          upper,
          longer,       longerUpper,  u"*",      u"?x",         u"=1",         u"007",
          u"Vi\u1EC7t", u"VI\u1EC6T", u"\u0218", u"\u0219",     u"\U00010400", u"\U00010428"};
}

std::string csvOf(const std::vector<std::u16string>& column) {
  std::string out;
  for (const auto& value : column) {
    appendField(out, toUtf8(value), ',', false);
    out += '\n';
  }
  return out;
}

// The column of a one-column CSV, by rows.
std::vector<std::string> columnOf(const std::string& csv, std::size_t rows) {
  const CsvDocument document = readCsv(csv);
  std::vector<std::string> out(rows);
  for (std::size_t i = 0; i < document.records.size() && i < rows; ++i) {
    out[i] = document.records[i].front();
  }
  return out;
}

TEST(ValueRemovalProperty, TheFileToolClearsTheCellsTheEngineClears) {
  const Mode modes[] = {{"RDPV", RemoveDuplicatesKeepOne},
                        {"RADP", RemoveAllDuplicates},
                        {"RUDP", RemoveUniqueValues}};
  const std::vector<std::u16string> texts = alphabet();
  const fs::path folder =
      fs::temp_directory_path() / ("qmv_value_property_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::mt19937 random(20261208);
  for (int round = 0; round < 60; ++round) {
    std::uniform_int_distribution<std::size_t> length(1, 40);
    // A few distinct texts per column, so that repeats are common.
    std::vector<std::u16string> pool;
    std::uniform_int_distribution<std::size_t> pick(0, texts.size() - 1);
    for (int i = 0; i < 5; ++i) pool.push_back(texts[pick(random)]);
    std::uniform_int_distribution<std::size_t> fromPool(0, pool.size() - 1);
    std::vector<std::u16string> column(length(random));
    for (auto& value : column) value = pool[fromPool(random)];

    for (const Mode& mode : modes) {
      std::ostringstream trace;
      trace << mode.name << " in round " << round;
      SCOPED_TRACE(trace.str());
      testing::LoadedAddin addin;
      std::vector<Value> values;
      for (const auto& value : column) values.push_back(value.empty() ? Value{} : Value{value});
      addin.host->setColumn({1, 1}, values);
      const std::string rows = std::to_string(column.size());
      addin.host->select(toUtf16("A1:A" + rows));
      addin.runYes(mode.command);

      const fs::path file = folder / "column.csv";
      std::ofstream(file, std::ios::binary) << csvOf(column);
      ApplyRequest request;
      request.operation = mode.name;
      request.file = file.string();
      request.range = "A1:A" + rows;
      std::ostringstream out;
      std::ostringstream err;
      ApplyStreams streams{out, err, false, {}};
      ASSERT_EQ(runApply(request, streams), 0) << err.str();
      const std::vector<std::string> tool = columnOf(out.str(), column.size());

      for (std::size_t r = 0; r < column.size(); ++r) {
        const Value engine = addin.valueAt(static_cast<int64_t>(r) + 1, 1);
        const auto* text = std::get_if<std::u16string>(&engine);
        const std::string expected = text ? toUtf8(*text) : std::string();
        EXPECT_EQ(tool[r], expected) << "row " << r + 1 << " of " << csvOf(column);
      }
    }
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace qmv::cli
