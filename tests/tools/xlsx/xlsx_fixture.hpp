// Workbooks for the xlsx tests: built with libxlsxwriter (shared strings, formats, formulas
// with cached values, dates, two sheets), altered with Python's zipfile for hostile
// packages, and read back by openpyxl as an independent reader.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.hpp"
#include "tools/qmv/cli.hpp"

namespace qmv::xlsx::testing {

namespace fs = std::filesystem;

/// A folder of its own for each test.
class TempFolder : public qmv::testing::TempFolder {
 public:
  TempFolder() : qmv::testing::TempFolder("qmv_xlsx_") {}
};

/// The Debian interpreter, which has python3-openpyxl (another python3 may come first on
/// the PATH).
inline std::string python() {
  return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

/// Runs a command and gives its standard output; fails the test on a non-zero status.
inline std::string run(const std::string& command) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr) << command;
  if (pipe == nullptr) return {};
  std::string out;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  const int status = ::pclose(pipe);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

/// The cells of every sheet as openpyxl reads them, one line per cell with a value or a
/// format: sheet, reference, value type and value, number format, bold, fill.
inline std::map<std::string, std::string> openpyxlCells(const TempFolder& folder,
                                                        const std::string& book) {
  const std::string script = folder.write("cells.py", R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
for ws in wb.worksheets:
    for row in ws.iter_rows():
        for c in row:
            if c.value is None and c.style_id == 0:
                continue
            print("%s!%s\t%s:%r\t%s\t%s\t%s" % (ws.title, c.coordinate, type(c.value).__name__,
                  c.value, c.number_format, c.font.b, c.fill.fgColor.rgb))
)");
  std::map<std::string, std::string> cells;
  std::istringstream lines(run(python() + " " + script + " " + book));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t tab = line.find('\t');
    cells[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return cells;
}

/// The bytes of every part as Python's zipfile reads them, by part name; with `times`, each
/// entry's date as zipfile gives it, too.
inline std::map<std::string, std::string> zipParts(
    const TempFolder& folder, const std::string& book,
    std::map<std::string, std::string>* times = nullptr) {
  const std::string script = folder.write("parts.py", R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for name in z.namelist():
        data = z.read(name)
        sys.stdout.write("%s\t%r\n%d\n" % (name, z.getinfo(name).date_time, len(data)))
        sys.stdout.flush()
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
)");
  const std::string out = run(python() + " " + script + " " + book);
  std::map<std::string, std::string> parts;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t nameEnd = out.find('\n', at);
    const std::size_t sizeEnd = out.find('\n', nameEnd + 1);
    const std::string line = out.substr(at, nameEnd - at);
    // A tab ends the name: a part's name may hold spaces, the date always does.
    const std::size_t tab = line.rfind('\t');
    const std::string name = line.substr(0, tab);
    if (times != nullptr) (*times)[name] = line.substr(tab + 1);
    const std::size_t size = std::stoul(out.substr(nameEnd + 1, sizeEnd - nameEnd - 1));
    parts[name] = out.substr(sizeEnd + 1, size);
    at = sizeEnd + 1 + size;
  }
  return parts;
}

/// Rewrites the package `from` into `to` with Python's zipfile, running `edit` (Python
/// statements over `parts`, an ordered list of [name, bytes] pairs) in between. Every entry
/// is dated 1980-01-01, as Excel dates them, so a writer that stamps the time of writing is
/// seen.
inline void alterPackage(const TempFolder& folder, const std::string& from, const std::string& to,
                         const std::string& edit) {
  const std::string script = folder.write("alter.py",
                                          "import sys, zipfile, warnings\n"
                                          "warnings.simplefilter('ignore')\n"
                                          "with zipfile.ZipFile(sys.argv[1]) as z:\n"
                                          "    parts = [[n, z.read(n)] for n in "
                                          "z.namelist()]\n" +
                                              edit +
                                              "\nwith zipfile.ZipFile(sys.argv[2], "
                                              "'w', zipfile.ZIP_DEFLATED) as z:\n"
                                              "    for n, b in parts:\n"
                                              "        z.writestr(zipfile.ZipInfo(n, "
                                              "(1980, 1, 1, 0, 0, 0)), b, "
                                              "zipfile.ZIP_DEFLATED)\n");
  run(python() + " " + script + " " + from + " " + to);
}

/// The test workbook: sheet "Data" (shared strings, a bold format, a number, a Boolean, a
/// date, a formula with its cached value, a second column) and sheet "Other", which is the
/// active one.
inline std::string buildWorkbook(const TempFolder& folder, const std::string& name,
                                 const std::string& vbaProject = {}) {
  std::string path = folder.file(name);
  lxw_workbook* book = workbook_new(path.c_str());
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd");
  lxw_format* yellow = workbook_add_format(book);
  format_set_bg_color(yellow, 0xFFFF00);
  lxw_worksheet* data = workbook_add_worksheet(book, "Data");
  worksheet_write_string(data, 0, 0, "Order 123", bold);
  worksheet_write_number(data, 1, 0, 1234.5, nullptr);
  worksheet_write_string(data, 2, 0, "a007", nullptr);
  worksheet_write_boolean(data, 3, 0, 1, nullptr);
  lxw_datetime when = {2007, 1, 2, 0, 0, 0};
  worksheet_write_datetime(data, 4, 0, &when, date);
  worksheet_write_formula_num(data, 5, 0, "=LEN(A1)", nullptr, 9);
  worksheet_write_string(data, 6, 0, "  spaced  9 ", nullptr);
  worksheet_write_string(data, 7, 0, "007", yellow);
  worksheet_write_number(data, 8, 0, 42, bold);
  worksheet_write_string(data, 0, 1, "keep 42", nullptr);
  worksheet_write_string(data, 1, 1, "x", yellow);
  worksheet_write_string(data, 2, 1, "y", nullptr);
  worksheet_write_string(data, 3, 1, "x", bold);
  worksheet_write_string(data, 4, 1, "z", nullptr);
  worksheet_write_formula_num(data, 5, 1, "=1+1", nullptr, 2);
  lxw_worksheet* other = workbook_add_worksheet(book, "Other");
  worksheet_write_string(other, 0, 0, "other 1", nullptr);
  worksheet_write_string(other, 1, 0, "Order 123", nullptr);
  worksheet_activate(other);
  if (!vbaProject.empty()) {
    workbook_add_vba_project(book, folder.write("vbaProject.bin", vbaProject).c_str());
  }
  EXPECT_EQ(workbook_close(book), LXW_NO_ERROR);
  return path;
}

struct Ran {
  int status = 0;
  std::string out;
  std::string err;
};

inline Ran qmv(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = {"qmv"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::istringstream in;
  std::ostringstream out, err;
  Ran ran;
  ran.status = cli::runQmv(args, in, out, err, false);
  ran.out = out.str();
  ran.err = err.str();
  return ran;
}

enum class Format { Kept, Cleared };

struct Change {
  std::string cell;   ///< Sheet!A1
  std::string value;  ///< as openpyxl shows it: type:repr
  Format format = Format::Kept;
};

/// The value part and the format part of a cell line.
inline std::pair<std::string, std::string> split(const std::string& line) {
  const std::size_t tab = line.find('\t');
  return {line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)};
}

/// The sheet part without the <c> elements of the given references.
inline std::string withoutCells(const std::string& xml, const std::set<std::string>& refs) {
  static const std::regex cell(R"re(<c r="([A-Z]+[0-9]+)"[^>]*?(/>|>.*?</c>))re");
  std::string out;
  auto last = xml.cbegin();
  for (std::sregex_iterator it(xml.begin(), xml.end(), cell), end; it != end; ++it) {
    if (!refs.contains((*it)[1].str())) continue;
    out.append(last, xml.cbegin() + it->position());
    last = xml.cbegin() + it->position() + it->length();
  }
  out.append(last, xml.cend());
  return out;
}

/// Checks the result against the input: the changes, and nothing else.
inline void expectOnly(const TempFolder& folder, const std::string& input,
                       const std::string& output, const std::vector<Change>& changes,
                       const std::string& changedPart) {
  const auto before = openpyxlCells(folder, input);
  const auto after = openpyxlCells(folder, output);
  std::map<std::string, const Change*> expected;
  for (const Change& change : changes) expected[change.cell] = &change;
  std::set<std::string> keys;
  for (const auto& [key, line] : before) keys.insert(key);
  for (const auto& [key, line] : after) keys.insert(key);
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    const std::string was = before.contains(key) ? before.at(key) : "";
    const std::string now = after.contains(key) ? after.at(key) : "";
    const auto found = expected.find(key);
    if (found == expected.end()) {
      EXPECT_EQ(now, was);
      continue;
    }
    const Change& change = *found->second;
    if (change.format == Format::Cleared) {
      EXPECT_EQ(now, "") << "a full clear leaves neither value nor format";
    } else {
      EXPECT_EQ(split(now).first, change.value);
      EXPECT_EQ(split(now).second, split(was).second) << "the cell keeps its format";
    }
  }

  std::map<std::string, std::string> timesBefore, timesAfter;
  const auto partsBefore = zipParts(folder, input, &timesBefore);
  const auto partsAfter = zipParts(folder, output, &timesAfter);
  EXPECT_EQ(timesAfter, timesBefore) << "a rewritten part keeps its entry's date";
  ASSERT_EQ(partsAfter.size(), partsBefore.size());
  std::set<std::string> refs;
  for (const Change& change : changes) refs.insert(change.cell.substr(change.cell.find('!') + 1));
  for (const auto& [name, bytes] : partsBefore) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(partsAfter.contains(name));
    if (name == changedPart) {
      EXPECT_EQ(withoutCells(partsAfter.at(name), refs), withoutCells(bytes, refs));
      EXPECT_NE(partsAfter.at(name), bytes);
    } else {
      EXPECT_EQ(partsAfter.at(name), bytes);
    }
  }
}

}  // namespace qmv::xlsx::testing
