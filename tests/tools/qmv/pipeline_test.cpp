// `qmv apply` as one path: what only changed cells being written means for a workbook,
// the files a run leaves (or not) when it is stopped or meets another run, and the
// conventions of the command line that CSV tools share.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "support/temp_folder.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/files.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;

class Folder : public qmv::testing::TempFolder {
 public:
  Folder() : qmv::testing::TempFolder("qmv_pipeline_") {}
};

struct Ran {
  int status = 0;
  std::string out;
  std::string err;
};

Ran run(const ApplyRequest& request, std::ostream* failingOut = nullptr) {
  std::ostringstream out;
  std::ostringstream err;
  ApplyStreams streams{failingOut ? *failingOut : out, err, false, {}};
  Ran ran;
  ran.status = runApply(request, streams);
  ran.out = out.str();
  ran.err = err.str();
  return ran;
}

ApplyRequest request(std::string operation, std::string file) {
  ApplyRequest r;
  r.operation = std::move(operation);
  r.file = std::move(file);
  return r;
}

std::string example(const std::string& name) {
  return std::string(QMV_SOURCE_DIR) + "/examples/" + name;
}

// Every cell of a workbook's active sheet: its value, its type and its format.
std::map<std::string, std::string> cellsOf(const std::string& path) {
  const auto book = xlsx::Workbook::open(path);
  std::map<std::string, std::string> cells;
  book->forEachCell(book->activeSheet(), [&](const xlsx::SheetCell& cell) {
    const Value value = book->valueOf(cell);
    std::string shown = std::to_string(value.index()) + ":";
    if (const auto* text = std::get_if<std::u16string>(&value)) shown += toUtf8(*text);
    if (const auto* number = std::get_if<double>(&value)) {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", *number);
      shown += buffer;
    }
    shown += " s=" + (cell.style ? std::to_string(*cell.style) : std::string("-"));
    cells[xlsx::cellReference(cell.ref)] = shown;
  });
  return cells;
}

TEST(PipelineTest, AWorkbookGetsOnlyTheCellsWhoseTextChanged) {
  // Texts in Text format, a text that reads as a date, a duration, milliseconds, a
  // number beyond 15 digits, a text TRUE, a third and an empty text, as xlsxwriter wrote
  // them: trim changes A2 and A3 only.
  Folder folder;
  const std::string out = folder.file("out.xlsx");
  ApplyRequest r = request("trim", example("people.xlsx"));
  r.output = out;
  const Ran ran = run(r);
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("2 changed"), std::string::npos) << ran.err;
  std::map<std::string, std::string> before = cellsOf(example("people.xlsx"));
  std::map<std::string, std::string> after = cellsOf(out);
  for (const char* changed : {"A2", "A3"}) {
    SCOPED_TRACE(changed);
    EXPECT_NE(before[changed], after[changed]);
    before.erase(changed);
    after.erase(changed);
  }
  EXPECT_EQ(after, before);
}

// The constant cells of a workbook's active sheet as CSV: each field the text its cell
// shows, formulas and blanks left empty. `emptyTexts` counts the cells holding an empty
// text, which a workbook visits and CSV cannot tell from a blank.
std::string csvOfConstants(const std::string& path, int64_t& emptyTexts) {
  const auto book = xlsx::Workbook::open(path);
  std::map<int64_t, std::map<int64_t, std::string>> rows;
  int64_t lastRow = 0, lastColumn = 0;
  book->forEachCell(book->activeSheet(), [&](const xlsx::SheetCell& cell) {
    if (cell.formula) return;
    const auto text = cellText(book->valueOf(cell), HostLocale{});
    if (text && text->empty() && !isEmpty(book->valueOf(cell))) ++emptyTexts;
    if (!text || text->empty()) return;
    rows[cell.ref.row][cell.ref.column] = toUtf8(*text);
    lastRow = std::max(lastRow, cell.ref.row);
    lastColumn = std::max(lastColumn, cell.ref.column);
  });
  std::string csv;
  for (int64_t r = 1; r <= lastRow; ++r) {
    for (int64_t c = 1; c <= lastColumn; ++c) {
      if (c > 1) csv += ',';
      const std::string& field = rows[r][c];
      if (field.find_first_of(",\"\n\r") == std::string::npos) {
        csv += field;
        continue;
      }
      csv += '"';
      for (const char ch : field) csv += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      csv += '"';
    }
    csv += '\n';
  }
  return csv;
}

// The counts of a summary line "...: 13 cells visited, 12 would change": visited, changed.
std::pair<int64_t, int64_t> countsOf(const std::string& err) {
  const std::size_t visited = err.find(" cells visited, ");
  if (visited == std::string::npos) return {-1, -1};
  const std::size_t colon = err.rfind(": ", visited);
  return {std::stoll(err.substr(colon + 2)), std::stoll(err.substr(visited + 16))};
}

TEST(PipelineTest, EveryFormatListsCountsAndRefusesAlike) {
  // The same cells as a workbook, as CSV text and as CSV read as typed input: a dry run
  // lists the same changes and counts the same cells, and each refuses a value removal
  // over several columns the same way.
  Folder folder;
  for (const char* name : {"inventory.xlsx", "people.xlsx"}) {
    const std::string book = example(name);
    const std::string csv = folder.file(std::string(name) + ".csv");
    int64_t emptyTexts = 0;
    std::ofstream(csv, std::ios::binary) << csvOfConstants(book, emptyTexts);
    struct Row {
      const char* what;
      const char* operation;
      std::optional<std::string> range;
      bool typed;  ///< the typed reading changes numbers' and dates' texts: only text columns
    };
    const Row rows[] = {
        {"digits everywhere", "digits", std::nullopt, false},
        {"trim everywhere", "trim", std::nullopt, false},
        {"letters in column A", "letters", "A2:A20", true},
        {"unique values in column A", "unique", "A1:A20", true},
    };
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(name) + ": " + row.what);
      ApplyRequest r = request(row.operation, book);
      r.range = row.range;
      r.dryRun = true;
      const Ran fromBook = run(r);
      ASSERT_EQ(fromBook.status, 0) << fromBook.err;
      r.file = csv;
      const Ran fromCsv = run(r);
      ASSERT_EQ(fromCsv.status, 0) << fromCsv.err;
      EXPECT_EQ(fromCsv.out, fromBook.out);
      const auto [visited, changed] = countsOf(fromBook.err);
      EXPECT_GT(changed, 0) << fromBook.err;
      const bool everywhere = !row.range;
      EXPECT_EQ(countsOf(fromCsv.err),
                std::make_pair(visited - (everywhere ? emptyTexts : 0), changed));
      if (!row.typed) continue;
      r.typed = true;
      const Ran typed = run(r);
      ASSERT_EQ(typed.status, 0) << typed.err;
      EXPECT_EQ(typed.out, fromBook.out);
      EXPECT_EQ(countsOf(typed.err), countsOf(fromCsv.err));
    }
    for (const bool typed : {false, true}) {
      ApplyRequest r = request("keep-one", csv);
      r.typed = typed;
      const Ran refused = run(r);
      EXPECT_EQ(refused.status, 2) << refused.err;
      EXPECT_NE(refused.err.find("works on a single column, and the "), std::string::npos)
          << refused.err;
    }
  }
}

TEST(PipelineTest, AStoppedRunLeavesNoTemporaryFile) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (const int sig : signals) {
    SCOPED_TRACE(strsignal(sig));
    Folder folder;
    const std::string fifo = folder.file("in.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      removeTemporariesOnSignals();
      ApplyRequest r = request("digits", fifo);
      r.output = folder.file("out.csv");
      run(r);  // the target is made, then the run waits for a writer on the FIFO
      ::_exit(0);
    }
    // Wait for the new file beside the target, then stop the run.
    bool made = false;
    for (int i = 0; i < 500 && !made; ++i) {
      for (const auto& entry : fs::directory_iterator(folder.file(""))) {
        made = made || entry.path().filename().string().starts_with(".out.csv.qmv-");
      }
      if (!made) ::usleep(10000);
    }
    EXPECT_TRUE(made);
    ::kill(child, sig);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(folder.count(), 1u) << "only the FIFO stays";
  }
}

TEST(PipelineTest, ASecondRunOnALockedTargetIsRefusedWithoutWriting) {
  Folder folder;
  const std::string file = folder.write("in.csv", "h\na1\n");
  const int held = ::open(file.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // a first run, still writing
  ApplyRequest r = request("digits", file);
  r.inPlace = true;
  const Ran ran = run(r);
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("another run of qmv is writing it"), std::string::npos) << ran.err;
  EXPECT_EQ(readWholeFile(file), "h\na1\n");
  EXPECT_EQ(folder.count(), 1u);
  ::close(held);
  EXPECT_EQ(run(r).status, 0);
  EXPECT_EQ(readWholeFile(file), "h\na\n");
}

// An output that refuses every byte, like a full disk.
class FullDisk : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(PipelineTest, FilesAndNamesAreHandledAsTheySay) {
  Folder folder;
  const std::string csv = folder.write("in.csv", "\"last, first\",zip\nAnn1,02139\nBo2,x7\n");
  const std::string book = folder.file("book");  // a workbook without an extension
  fs::copy_file(example("inventory.xlsx"), book);
  const std::string ods =
      folder.write("sheet.ods", std::string("PK\x03\x04", 4) + std::string(26, '\0') +
                                    "mimetypeapplication/vnd.oasis.opendocument.spreadsheet");
  const std::string ids = folder.write("ids.csv", "id\nx\ny\nx\nz\nx\nz\n");
  struct Row {
    const char* name;
    ApplyRequest request;
    int status;
    std::string out;  // standard output, when checked
    std::string err;  // a part of standard error
  };
  ApplyRequest bookOut = request("digits", book);
  bookOut.output = folder.file("clean.xlsx");
  ApplyRequest bookToCsv = request("digits", book);
  bookToCsv.output = folder.file("x.csv");
  ApplyRequest comma = request("digits", csv);
  comma.columns = "\"last, first\"";
  ApplyRequest areas = request("keep-one", ids);
  areas.range = "A2:A3,A5:A7";
  ApplyRequest textAsBook = request("digits", csv);
  textAsBook.output = folder.file("out.xlsx");
  const std::vector<Row> rows = {
      {"a name with a comma, quoted", comma, 0, "\"last, first\",zip\nAnn,02139\nBo,x7\n", ""},
      {"keep-one over areas of one column", areas, 0, "id\nx\ny\nx\nz\n\n\n", "2 changed"},
      {"a workbook told by its content", bookOut, 0, "", "changed"},
      {"a workbook under a text name", bookToCsv, 2, "", "give a name ending in .xlsx"},
      {"text under a workbook name", textAsBook, 2, "", "names a workbook"},
      {"an OpenDocument spreadsheet", request("digits", ods), 1, "", "OpenDocument spreadsheet"},
      {"an Excel template", request("digits", folder.write("t.xltx", "x")), 1, "",
       "Excel template"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Ran ran = run(row.request);
    EXPECT_EQ(ran.status, row.status) << ran.err;
    if (!row.out.empty()) {
      EXPECT_EQ(ran.out, row.out);
    }
    EXPECT_NE(ran.err.find(row.err), std::string::npos) << ran.err;
  }
  EXPECT_FALSE(fs::exists(folder.file("x.csv")));

  // A dry run whose listing cannot be written fails.
  FullDisk full;
  std::ostream fullOut(&full);
  ApplyRequest dry = request("digits", csv);
  dry.dryRun = true;
  const Ran cut = run(dry, &fullOut);
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("cannot write the list of changes"), std::string::npos) << cut.err;

  // A TMPDIR that is gone: the workbook is built in /tmp instead.
  const char* saved = std::getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  ::setenv("TMPDIR", folder.file("gone").c_str(), 1);
  ApplyRequest again = bookOut;
  again.force = true;
  const Ran noTemp = run(again);
  saved ? ::setenv("TMPDIR", keep.c_str(), 1) : ::unsetenv("TMPDIR");
  EXPECT_EQ(noTemp.status, 0) << noTemp.err;

  // A link that names no file yet: the file it names is written, the link stays.
  const std::string link = folder.file("link.csv");
  fs::create_symlink("made.csv", link);
  ApplyRequest linked = request("digits", csv);
  linked.output = link;
  EXPECT_EQ(run(linked).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readWholeFile(folder.file("made.csv")), "\"last, first\",zip\nAnn,\nBo,x\n");
}

TEST(PipelineTest, TheCommandLineFollowsCsvToolConventions) {
  Folder folder;
  const std::string csv = folder.write("in.csv", "id,name,zip\n1a,b2,c3\n");
  const std::string tsv = folder.write("in.tsv", "id\tname\n1a\tb2,3\n");
  // Quotes in tab-separated text: literal by default, as CSV quotes them with --quoted-tsv.
  const std::string quotes = folder.write("quotes.tsv", "t\tn\n\"Best\" TV 4K\t\"7\"\r\n");
  const std::string quoted = folder.write("quoted.tsv", "t\tn\n\"a\tb1\"\t\"x\"\"2\"\n");
  const std::string tab = folder.write("tabs.txt", "t\tn\n\"q1\t2\n");
  const std::string excel = folder.write("excel.tsv", "id\tnote\tqty\n1\t\"two\nlines\"\t3\n");
  struct Row {
    const char* name;
    ApplyRequest request;
    int status;
    std::string out;
    std::string err;
  };
  const auto with = [&](const std::string& file, void (*change)(ApplyRequest&)) {
    ApplyRequest r = request("digits", file);
    change(r);
    return r;
  };
  const std::vector<Row> rows = {
      {"the header stays", request("digits", csv), 0, "id,name,zip\na,b,c\n", ""},
      {"--no-header makes it data", with(csv, [](ApplyRequest& r) { r.noHeader = true; }), 0,
       "id,name,zip\na,b,c\n", "over $A$1:$C$2: 6 cells visited"},
      {"a column by number", with(csv, [](ApplyRequest& r) { r.columns = "2"; }), 0,
       "id,name,zip\n1a,b,c3\n", ""},
      {"a range of numbers", with(csv, [](ApplyRequest& r) { r.columns = "2-3"; }), 0,
       "id,name,zip\n1a,b,c\n", ""},
      {"a range of letters", with(csv, [](ApplyRequest& r) { r.columns = "A:B"; }), 0,
       "id,name,zip\na,b,c3\n", ""},
      {"an exclusion", with(csv, [](ApplyRequest& r) { r.columns = "!name"; }), 0,
       "id,name,zip\na,b2,c\n", ""},
      {"a letter beyond the last column", with(csv, [](ApplyRequest& r) { r.columns = "ID"; }), 2,
       "", "-c: column ID (238) is beyond the last column of the header row, C (3)"},
      {"a number beyond the last column", with(csv, [](ApplyRequest& r) { r.columns = "9"; }), 2,
       "", "-c: column I (9) is beyond the last column of the header row, C (3)"},
      {"an exclusion beyond the last column", with(csv, [](ApplyRequest& r) { r.columns = "!9"; }),
       0, "id,name,zip\na,b,c\n", ""},
      {"-q says nothing but errors",
       with(csv,
            [](ApplyRequest& r) {
              r.columns = "name";
              r.quiet = true;
            }),
       0, "id,name,zip\n1a,b,c3\n", ""},
      {".tsv means tabs", request("digits", tsv), 0, "id\tname\na\tb,\n", ""},
      {"tabs under .csv", with(tsv, [](ApplyRequest& r) { r.output = "x.csv"; }), 2, "",
       "the result is tab-separated"},
      {"quotes in a .tsv are characters", request("digits", quotes), 0,
       "t\tn\n\"Best\" TV K\t\"\"\r\n", "2 cells visited, 2 changed"},
      {"quotes under -t are characters", with(tab, [](ApplyRequest& r) { r.tabs = true; }), 0,
       "t\tn\n\"q\t\n", ""},
      {"quotes under -d '\\t' are characters",
       with(tab, [](ApplyRequest& r) { r.delimiter = "\\t"; }), 0, "t\tn\n\"q\t\n", ""},
      {"--quoted-tsv reads them as CSV does",
       with(quoted, [](ApplyRequest& r) { r.quotedTsv = true; }), 0, "t\tn\n\"a\tb\"\t\"x\"\"\"\n",
       "2 cells visited, 2 changed"},
      // Excel quotes a cell holding a tab or a line break: read literally it would be cut
      // in two, which the record's fields, more or fewer than the header's, tell.
      {"a quoted tab in literal text stops the run", request("digits", quoted), 1, "",
       "line 2, column 1: a field opens with a quote, and the record has 3 fields where the "
       "header has 2"},
      {"a quoted line break in literal text stops the run", request("digits", excel), 1, "",
       "line 2, column 3: a field opens with a quote, and the record has 2 fields where the "
       "header has 3: read literally, a cell that Excel quoted (one holding a line break) is "
       "cut in two; give --quoted-tsv to read quotes as CSV does"},
      {"--quoted-tsv reads the line break inside its cell",
       with(excel, [](ApplyRequest& r) { r.quotedTsv = true; }), 0,
       "id\tnote\tqty\n\t\"two\nlines\"\t\n", "3 cells visited, 2 changed"},
      {"--quoted-tsv on commas", with(csv, [](ApplyRequest& r) { r.quotedTsv = true; }), 2, "",
       "--quoted-tsv: "},
      {"an unknown operation lists every code", request("nope", csv), 2, "",
       "is not an operation; give a code (RNUM RALP"},
      {"no file from a terminal",
       [] {
         ApplyRequest r;
         r.operation = "digits";
         return r;
       }(),
       2, "", "FILE: give the file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Ran ran = run(row.request);
    EXPECT_EQ(ran.status, row.status) << ran.err;
    EXPECT_EQ(ran.out, row.out);
    if (row.err.empty() && row.request.quiet) {
      EXPECT_EQ(ran.err, "");
    }
    EXPECT_NE(ran.err.find(row.err), std::string::npos) << ran.err;
  }

  // --dry-run with --in-place writes nothing.
  ApplyRequest dry = request("digits", csv);
  dry.inPlace = true;
  dry.dryRun = true;
  const Ran shown = run(dry);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("A2: \"1a\" -> \"a\""), std::string::npos) << shown.out;
  EXPECT_EQ(readWholeFile(csv), "id,name,zip\n1a,b2,c3\n");

  // Without FILE, a pipe on standard input is read; a workbook there is told by its bytes.
  const auto piped = [&](const std::string& input, const std::string& output) {
    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(pipeEnds[0], STDIN_FILENO);
      ::close(pipeEnds[1]);
      ApplyRequest r;
      r.operation = "digits";
      r.output = output;
      std::ostringstream out, err;
      ApplyStreams streams{out, err, false, {}, false};
      const int status = runApply(r, streams);
      std::ofstream(folder.file("piped.err")) << err.str();
      ::_exit(status);
    }
    ::close(pipeEnds[0]);
    EXPECT_EQ(::write(pipeEnds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(pipeEnds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return std::pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                     readWholeFile(folder.file("piped.err")));
  };
  EXPECT_EQ(piped("h\nx1\n", folder.file("piped.csv")).first, 0);
  EXPECT_EQ(readWholeFile(folder.file("piped.csv")), "h\nx\n");
  const auto [status, said] =
      piped(std::string("PK\x03\x04\x14\0\0\0\x08\0", 10), folder.file("piped-out.csv"));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(said,
            "qmv apply: the input is a workbook (a zip package); qmv reads a workbook from its "
            "file, not from a pipe: save it and give its name as FILE\n");
}

}  // namespace
}  // namespace qmv::cli
