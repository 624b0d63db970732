// `qmv apply` on CSV text: untouched fields keep their bytes, encodings round-trip, lists
// of removals equal successive runs, characters beyond U+FFFF stay whole, dry runs write
// nothing, and targets are written safely.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/qmv/apply.hpp"
#include "tools/qmv/files.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class TextApplyTest : public ::testing::Test {
 protected:
  TextApplyTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              ("qmv_text_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  ~TextApplyTest() override { fs::remove_all(folder_); }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  struct Ran {
    int status = 0;
    std::string out;
    std::string err;
  };
  static Ran run(const ApplyRequest& request) {
    std::ostringstream out;
    std::ostringstream err;
    ApplyStreams streams{out, err, false, {}};
    Ran ran;
    ran.status = runApply(request, streams);
    ran.out = out.str();
    ran.err = err.str();
    return ran;
  }
  ApplyRequest request(const std::string& operation, const std::string& input) const {
    ApplyRequest r;
    r.operation = operation;
    r.file = write("in.csv", input);
    r.noHeader = true;  // most inputs here are a row or two of data
    return r;
  }

 private:
  fs::path folder_;
};

const std::string kUntyped =
    "id,zip,card,when,time,part,pct,amt,flag,sci,neg\n"
    "x1,007,4111111111111111111,1/2,12:30,3-4,50%,\"1,234.50\",yes,1e5,(5)\n";

TEST_F(TextApplyTest, FieldsOutsideTheRemovalKeepTheirBytes) {
  // The file of the first report: nothing selected, nothing may change.
  ApplyRequest r = request("RNUM", kUntyped);
  r.range = "Z:Z";
  r.inPlace = true;
  const Ran ran = run(r);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(readWholeFile(*r.file), kUntyped);
  EXPECT_NE(ran.err.find("0 cells visited, 0 changed"), std::string::npos) << ran.err;

  struct Row {
    const char* name;
    std::string input;
    std::string range;
    std::string output;
  };
  const std::vector<Row> rows = {
      {"the card number and the date stay", kUntyped, "B2",
       "id,zip,card,when,time,part,pct,amt,flag,sci,neg\n"
       "x1,,4111111111111111111,1/2,12:30,3-4,50%,\"1,234.50\",yes,1e5,(5)\n"},
      {"CRLF and a byte-order mark", "\xEF\xBB\xBFname,n\r\nab1,\"q\"\"1\"\r\nc,2\r\n", "A:A",
       "\xEF\xBB\xBFname,n\r\nab,\"q\"\"1\"\r\nc,2\r\n"},
      {"mixed line breaks and no break at the end", "a1\r\nb2\nc3\rd4", "A2:A3", "a1\r\nb\nc\rd4"},
      {"quoted fields with line breaks", "\"x1\ny1\",\"k\r\n2\"\nz,\"3\"\n", "A:A",
       "\"x\ny\",\"k\r\n2\"\nz,\"3\"\n"},
      {"a changed quoted field keeps its quotes", "\"a1\",\"b1\"\n", "A1", "\"a\",\"b1\"\n"},
      {"a result that needs quotes gets them", "\"1a,b\"\n", "A1", "\"a,b\"\n"},
      {"short records and empty fields", "a1,b1,c1\nx\n,,\n", "A:C", "a,b,c\nx\n,,\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest each = request("RNUM", row.input);
    each.range = row.range;
    const Ran out = run(each);
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, row.output);
  }
}

TEST_F(TextApplyTest, LongFilesGiveWhatEachFieldGivesAlone) {
  // A file of several reads: a header and 30,000 records of two fields, with records of
  // other kinds put in after the 10,000th (line 10,002), halfway into a read.
  struct Record {
    std::string in;
    std::string out;  ///< as RNUM writes it
  };
  struct Row {
    const char* name;
    std::vector<Record> inserted;
    std::string err = "";  ///< a part of the messages
    void (*options)(ApplyRequest&) = [](ApplyRequest&) {};
    std::string lf = "\n";
    bool lastBreak = true;
  };
  const auto file = [](const Row& row, bool onlyA) {
    Record whole{"h3ader,b9" + row.lf, "h3ader,b9" + row.lf};
    for (int i = 0; i < 30000; ++i) {
      if (i == 10000) {
        for (const Record& r : row.inserted) whole.in.append(r.in), whole.out.append(r.out);
      }
      const std::string n = std::to_string(i), seven = std::to_string(i * 7);
      whole.in.append("a").append(n).append(",b-").append(seven).append(row.lf);
      whole.out.append("a,b-").append(onlyA ? seven : "").append(row.lf);
    }
    if (!row.lastBreak) whole.in.resize(whole.in.size() - row.lf.size());
    if (!row.lastBreak) whole.out.resize(whole.out.size() - row.lf.size());
    return whole;
  };
  const std::string y(30000, 'y'), f = y + "0123456789";
  const Record longer{f + "," + f + "," + f + "," + f + "," + f + "\n",
                      y + "," + y + "," + y + "," + y + "," + y + "\n"};
  const std::vector<Row> rows = {
      {.name = "plain records", .inserted = {}, .err = "60,000 cells visited, 60,000 changed"},
      {.name = "quoted fields",
       .inserted = {{"\"q1,2\",z3\n", "\"q,\",z\n"}, {"x\"1,\"\"\n", "\"x\"\"\",\"\"\n"}}},
      {.name = "CRLF, a lone CR, no last break",
       .inserted = {{"c1\rd2\r\n", "c\rd\r\n"}},
       .err = "$A$2:$B$30003: 60,002 cells visited, 60,002 changed",
       .lf = "\r\n",
       .lastBreak = false},
      {.name = "not ASCII", .inserted = {{"\xC3\xA9x1,g2\n", "\xC3\xA9x,g\n"}}},
      {.name = "other widths and empty fields",
       .inserted = {{"h1\n", "h\n"}, {"i1,j2,k3\n", "i,j,k\n"}, {",\n", ",\n"}, {"\n", "\n"}},
       .err = "60,004 cells visited, 60,004 changed"},
      {.name = "a record longer than a read", .inserted = {longer}},
      // A field may be longer than a cell holds: CSV has no such bound.
      {.name = "an ASCII field longer than a cell",
       .inserted = {{std::string(40000, 'z') + "7,q\n", std::string(40000, 'z') + ",q\n"}}},
      {.name = "a quoted field longer than a cell, not ASCII",
       .inserted = {{"\"\xC3\xA9" + std::string(40000, 'y') + "5\",w\n",
                     "\"\xC3\xA9" + std::string(40000, 'y') + "\",w\n"}}},
      {.name = "the header row visited",
       .inserted = {},
       .options = [](ApplyRequest& r) { r.noHeader = true; }},
      {.name = "a guarded formula",
       .inserted = {{"1=2,+3\n", "'=,+\n"}},
       .err = "1 result starts with",
       .options = [](ApplyRequest& r) { r.guardFormulas = true; }},
      {.name = "one column picked",
       .inserted = {{"l1\n", "l\n"}},
       .options = [](ApplyRequest& r) { r.columns = "A"; }},
      {.name = "both columns picked",
       .inserted = {{"m1\n", "m\n"}},
       .err = "60,001 cells visited",
       .options = [](ApplyRequest& r) { r.columns = "b9,A"; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request("RNUM", "");
    r.noHeader = false;
    row.options(r);
    Record expected = file(row, r.columns == "A");
    r.file = write("in.csv", expected.in);
    if (r.noHeader) expected.out = "hader,b" + expected.out.substr(9);
    const Ran ran = run(r);
    EXPECT_EQ(ran.status, 0) << ran.err;
    const auto at =
        std::mismatch(ran.out.begin(), ran.out.end(), expected.out.begin(), expected.out.end())
            .first;
    EXPECT_TRUE(ran.out == expected.out) << "from byte " << at - ran.out.begin() << ": "
                                         << std::string(at, ran.out.end()).substr(0, 24);
    EXPECT_NE(ran.err.find(row.err), std::string::npos) << ran.err;
  }
  // Errors name their line, after records taken a buffer at a time.
  for (const std::string& bad : {std::string("\xFF")}) {
    SCOPED_TRACE(bad.size());
    const Ran ran =
        run(request("RNUM", file({.name = "", .inserted = {{bad + "\n", ""}}}, false).in));
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("line 10002,"), std::string::npos) << ran.err;
  }
}

TEST_F(TextApplyTest, EachEncodingRoundTrips) {
  struct Row {
    const char* name;
    std::string encoding;  ///< -e; empty: found from the mark
    std::string input;
    std::string output;  ///< RNUM over every cell
  };
  const std::vector<Row> rows = {
      {"UTF-8 with a mark", "",
       "\xEF\xBB\xBF\xC3\xA9"
       "1;x\r\n",
       "\xEF\xBB\xBF\xC3\xA9;x\r\n"},
      {"UTF-16LE with a mark", "",
       "\xFF\xFE\xE9\0"
       "1\0;\0x\0\r\0\n\0"s,
       "\xFF\xFE\xE9\0;\0x\0\r\0\n\0"s},
      {"UTF-16BE with a mark", "",
       "\xFE\xFF\0\xE9\0"
       "1\0;\0x\0\r\0\n"s,
       "\xFE\xFF\0\xE9\0;\0x\0\r\0\n"s},
      {"UTF-16 named, its mark read", "utf-16",
       "\xFF\xFE"
       "2\0;\0\r\0\n\0"s,
       "\xFF\xFE;\0\r\0\n\0"s},
      {"UTF-16LE named, a character beyond U+FFFF", "UTF-16LE",
       "\x3D\xD8\x00\xDE"
       "7\0;\0\n\0"s,
       "\x3D\xD8\x00\xDE;\0\n\0"s},
      {"Windows-1252", "windows-1252",
       "\x80"
       "1;\x9C\xE9\n",
       "\x80;\x9C\xE9\n"},
      {"ISO-8859-1", "ISO-8859-1",
       "M\xFC"
       "5;\xA0\n",
       "M\xFC;\xA0\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest unchanged = request("RNUM", row.input);
    unchanged.delimiter = ";";
    unchanged.range = "Z:Z";
    if (!row.encoding.empty()) unchanged.encoding = row.encoding;
    const Ran same = run(unchanged);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, row.input);
    ApplyRequest digits = unchanged;
    digits.range.reset();
    const Ran changed = run(digits);
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_EQ(changed.out, row.output);
  }
}

TEST_F(TextApplyTest, OutputEncodingAndMarkAreChosen) {
  ApplyRequest r = request("RNUM",
                           "\xC3\xA9"
                           "1\n");
  r.outputEncoding = "UTF-16LE";
  r.bom = "yes";
  EXPECT_EQ(run(r).out, "\xFF\xFE\xE9\0\n\0"s);
  r.outputEncoding = "ISO-8859-1";
  r.bom = "no";
  EXPECT_EQ(run(r).out, "\xE9\n");
  // Text the output encoding cannot hold: an error, nothing written to the file.
  ApplyRequest wide = request("RNUM",
                              "\xE2\x82\xAC"
                              "1\n");
  wide.outputEncoding = "ISO-8859-1";
  wide.output = path("out.csv");
  const Ran ran = run(wide);
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("ISO-8859-1"), std::string::npos) << ran.err;
  EXPECT_FALSE(fs::exists(path("out.csv")));
  // Bytes that are not the named encoding, and an unknown name.
  ApplyRequest bad = request("RNUM",
                             "\xFF\xFE"
                             "a"s);
  bad.encoding = "UTF-16LE";
  EXPECT_EQ(run(bad).status, 1);
  ApplyRequest unknown = request("RNUM", "a\n");
  unknown.encoding = "no-such-code";
  const Ran refused = run(unknown);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("-e: \"no-such-code\""), std::string::npos) << refused.err;
}

TEST_F(TextApplyTest, AListOfRemovalsEqualsSuccessiveRuns) {
  const std::string input = "h,k\n\" a1  b2 \",x9  y\n3 3,\"=\"\"q\"\"\"\n";
  struct Row {
    const char* list;
    std::vector<std::string> runs;
    void (*options)(ApplyRequest&);
  };
  const std::vector<Row> rows = {
      {"digits,squeeze", {"digits", "squeeze"}, [](ApplyRequest&) {}},
      {"squeeze,RALS", {"squeeze", "RALS"}, [](ApplyRequest&) {}},
      {"chars,before",
       {"chars", "before"},
       [](ApplyRequest& r) {
         r.inputs["chars"] = "q";
         r.inputs["start"] = "2";
         r.inputs["all"] = "";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.list);
    ApplyRequest chained = request(row.list, input);
    row.options(chained);
    const Ran once = run(chained);
    ASSERT_EQ(once.status, 0) << once.err;
    std::string text = input;
    for (const std::string& name : row.runs) {
      ApplyRequest single = request(name, text);
      row.options(single);
      if (name != "chars") single.inputs.erase("chars");
      if (name != "before") {
        single.inputs.erase("start");
        single.inputs.erase("all");
      }
      const Ran step = run(single);
      ASSERT_EQ(step.status, 0) << step.err;
      text = step.out;
    }
    EXPECT_EQ(once.out, text);
  }
  EXPECT_EQ(run(request("digits,RADP", input)).status, 2);
  ApplyRequest unused = request("digits,squeeze", input);
  unused.inputs["start"] = "2";
  EXPECT_EQ(run(unused).status, 2);
  unused.inputs.erase("start");
  unused.inputs["all"] = "";
  const Ran all = run(unused);
  EXPECT_EQ(all.status, 2);
  EXPECT_NE(all.err.find("--all: no removal of \"digits,squeeze\" takes it"), std::string::npos)
      << all.err;
}

TEST_F(TextApplyTest, ACharacterBeyondTheBasicPlaneStaysWholeOrGoesWhole) {
  const std::string input = "a\U0001F600b\U0001F601c\n";
  struct Row {
    const char* name;
    const char* operation;
    void (*options)(ApplyRequest&);
    std::string output;
  };
  const std::vector<Row> rows = {
      {"--chars with one emoji", "RUDC", [](ApplyRequest& r) { r.inputs["chars"] = "\U0001F600"; },
       "ab\U0001F601c\n"},
      {"--start counts a pair once", "RBSP", [](ApplyRequest& r) { r.inputs["start"] = "3"; },
       "b\U0001F601c\n"},
      {"--count counts a pair once", "RNAP",
       [](ApplyRequest& r) {
         r.inputs["start"] = "1";
         r.inputs["count"] = "1";
       },
       "ab\U0001F601c\n"},
      {"an emoji as separator", "before",
       [](ApplyRequest& r) {
         r.inputs["all"] = "";
         r.inputs["separator"] = "\U0001F601";
       },
       "\U0001F601c\n"},
      {"after the last emoji-free position", "RASP",
       [](ApplyRequest& r) { r.inputs["start"] = "4"; }, "a\U0001F600b\U0001F601\n"},
      {"letters leave both emoji", "RALP", [](ApplyRequest&) {}, "\U0001F600\U0001F601\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request(row.operation, input);
    row.options(r);
    const Ran ran = run(r);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, row.output);
    EXPECT_EQ(ran.out.find("\xEF\xBF\xBD"), std::string::npos) << "U+FFFD written";
  }
}

TEST_F(TextApplyTest, ADryRunShowsTheChangesAndLeavesTheFileAlone) {
  const std::string input = "n\na1\nb\"2\nc3\nd4\n";
  ApplyRequest r = request("RNUM", input);
  r.dryRun = true;
  r.limit = "2";
  const fs::file_time_type before = fs::last_write_time(*r.file);
  const Ran ran = run(r);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.out,
            "A2: \"a1\" -> \"a\"\nA3: \"b\\\"2\" -> \"b\\\"\"\n... and 2 more\n"
            "4 cells would change: \"a1\" -> \"a\"; \"b\"2\" -> \"b\"\"; \"c3\" -> \"c\" "
            "(nothing written)\n");
  EXPECT_EQ(readWholeFile(*r.file), input);
  EXPECT_EQ(fs::last_write_time(*r.file), before);
  r.quiet = true;
  EXPECT_EQ(run(r).err, "");
  r.dryRun = false;
  EXPECT_EQ(run(r).status, 2) << "--limit without --dry-run";
}

TEST_F(TextApplyTest, ADryRunEndsWithTheAddinsPreviewLine) {
  const struct {
    const char* operation;
    std::string input;
    std::string last;
  } rows[] = {
      {"RADP", "k\nx\ny\nX\nz\nx\n",
       "3 cells would be cleared: \"x\", \"X\", \"x\" (nothing written)\n"},
      {"RUDP", "k\nx\ny\nX\n", "1 cell would be cleared: \"y\" (nothing written)\n"},
      {"RDPV", "k\nx\ny\n", "No cell would be cleared. (nothing written)\n"},
      {"RNUM", "k\nab\n", "No cell would change. (nothing written)\n"},
      {"RNUM", "k\na1\nb2\nc3\nd4\ne5\n",
       "5 cells would change: \"a1\" -> \"a\"; \"b2\" -> \"b\"; \"c3\" -> \"c\" "
       "(nothing written)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.operation) + " over " + row.input);
    ApplyRequest r = request(row.operation, row.input);
    r.columns = "k";
    r.noHeader = false;
    r.dryRun = true;
    const Ran ran = run(r);
    EXPECT_EQ(ran.status, 0) << ran.err;
    ASSERT_GE(ran.out.size(), row.last.size());
    EXPECT_EQ(ran.out.substr(ran.out.size() - row.last.size()), row.last);
    EXPECT_EQ(readWholeFile(*r.file), row.input);
  }
}

TEST_F(TextApplyTest, FormulaLookingResultsAreCountedAndGuarded) {
  const std::string input = "a=1+1,=b2,x@y,q-1\n";
  ApplyRequest r = request("RALP", input);
  Ran ran = run(r);
  EXPECT_EQ(ran.out, "=1+1,=2,@,-1\n");
  EXPECT_NE(ran.err.find("3 results start with =, +, - or @"), std::string::npos) << ran.err;
  r.guardFormulas = true;
  ran = run(r);
  EXPECT_EQ(ran.out, "'=1+1,=2,'@,'-1\n");
}

TEST_F(TextApplyTest, ColumnsByNameOrLetterAndTheHeader) {
  const std::string input = "id,zip 1,note\nA1,02139,x9\nB2,\"7,7\",y8\n";
  struct Row {
    const char* name;
    std::string columns;
    bool noHeader;
    int status;
    std::string output;
    std::optional<std::string> headerRow = std::nullopt;
  };
  const std::vector<Row> rows = {
      {"by name", "zip 1", false, 0, "id,zip 1,note\nA1,,x9\nB2,\",\",y8\n"},
      {"by letter", "c", false, 0, "id,zip 1,note\nA1,02139,x\nB2,\"7,7\",y\n"},
      {"two columns", "id,note", false, 0, "id,zip 1,note\nA,02139,x\nB,\"7,7\",y\n"},
      {"no header", "A", true, 0, "id,zip 1,note\nA,02139,x9\nB,\"7,7\",y8\n"},
      {"an unknown name", "post code", false, 2, ""},
      {"a name without a header", "zip 1", true, 2, ""},
      // The header lower down: the rows above it, title or data, are never visited.
      {"the header in row 2", "A1,B", false, 0, "id,zip 1,note\nA1,02139,x9\nB,\",\",y8\n", "2"},
      {"a header row past the end", "zip 1", false, 2, "", "9"},
      {"letters below a header row past the end", "c", false, 0, input, "9"},
      {"a header row that is no row", "c", false, 2, "", "0"},
      {"a header row with --no-header", "c", true, 2, "", "2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request("RNUM", input);
    r.columns = row.columns;
    r.noHeader = row.noHeader;
    r.headerRow = row.headerRow;
    const Ran ran = run(r);
    EXPECT_EQ(ran.status, row.status) << ran.err;
    EXPECT_EQ(ran.out, row.output);
  }
  ApplyRequest twice = request("RNUM", "a,a\n1,2\n");
  twice.columns = "a";
  twice.noHeader = false;
  EXPECT_EQ(run(twice).status, 2);
}

TEST_F(TextApplyTest, DelimitersAsEuropeanExcelAndTabs) {
  ApplyRequest r = request("RNUM", "Name;Betrag\r\n\"M\xC3\xBCller\";\"1,5\"\r\nA;2\r\n");
  r.delimiter = ";";
  EXPECT_EQ(run(r).out, "Name;Betrag\r\n\"M\xC3\xBCller\";\",\"\r\nA;\r\n");
  ApplyRequest tabs = request("RNUM", "a1\tb,2\n");
  tabs.tabs = true;
  EXPECT_EQ(run(tabs).out, "a\tb,\n");
  tabs.delimiter = "\"";
  tabs.tabs = false;
  EXPECT_EQ(run(tabs).status, 2);
}

TEST_F(TextApplyTest, TargetsAreWrittenSafely) {
  // A read-only file is refused, then replaced with --force, keeping its mode.
  ApplyRequest r = request("RNUM", "a1\n");
  r.inPlace = true;
  ::chmod(r.file->c_str(), 0444);
  Ran ran = run(r);
  EXPECT_EQ(ran.status, 1);
  EXPECT_NE(ran.err.find("read-only"), std::string::npos) << ran.err;
  EXPECT_EQ(readWholeFile(*r.file), "a1\n");
  r.force = true;
  EXPECT_EQ(run(r).status, 0);
  EXPECT_EQ(readWholeFile(*r.file), "a\n");
  struct stat info {};
  ASSERT_EQ(::stat(r.file->c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
  EXPECT_EQ(info.st_uid, ::geteuid());

  // The replaced file keeps its owner (only the superuser can give a file away).
  if (::geteuid() == 0) {
    ApplyRequest owned = request("RNUM", "");
    owned.file = write("owned.csv", "e5\n");
    owned.inPlace = true;
    ASSERT_EQ(::chown(owned.file->c_str(), 4321, 4321), 0);
    EXPECT_EQ(run(owned).status, 0);
    ASSERT_EQ(::stat(owned.file->c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4321u);
    EXPECT_EQ(readWholeFile(*owned.file), "e\n");
  }

  // A FIFO is written, not renamed over.
  const std::string fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = readWholeFile(fifo); });
  ApplyRequest toFifo = request("RNUM", "b2,c\n");
  toFifo.output = fifo;
  ran = run(toFifo);
  reader.join();
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(received, "b,c\n");
  ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));

  // A device stays a device; "-o -" is standard output.
  ApplyRequest toNull = request("RNUM", "d4\n");
  toNull.output = "/dev/null";
  EXPECT_EQ(run(toNull).status, 0);
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  toNull.output = "-";
  EXPECT_EQ(run(toNull).out, "d\n");
}

// What --in-place cannot replace safely is refused in one line saying why and what to do;
// --force is offered only where it helps.
TEST_F(TextApplyTest, WhatCannotBeReplacedSafelyIsRefusedInOneLine) {
  const std::string fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string linked = write("linked.csv", "a1\n");
  const std::string other = path("other.csv");
  ASSERT_EQ(::link(linked.c_str(), other.c_str()), 0);
  struct Row {
    const char* name;
    std::string file;
    bool force;
    int status;
    const char* says;     ///< in the one line
    const char* content;  ///< the file afterwards
  } rows[] = {
      {"a named pipe, which would wait for a writer", fifo, false, 1, "is a named pipe (FIFO)", ""},
      {"a device", "/dev/null", false, 1, "is a device", ""},
      {"a file with two names", linked, false, 1, "2 names (hard links)", "a1\n"},
      {"with --force, this name alone", linked, true, 0, "", "a\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request("RNUM", "");
    r.file = row.file;
    r.inPlace = true;
    r.force = row.force;
    const Ran ran = run(r);
    EXPECT_EQ(ran.status, row.status) << ran.err;
    if (row.status != 0) {
      EXPECT_NE(ran.err.find(row.says), std::string::npos) << ran.err;
      EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
      EXPECT_NE(ran.err.find(row.force || *row.content == '\0' ? "-o OUT" : "--force"),
                std::string::npos)
          << ran.err;
    }
    if (*row.content != '\0') {
      EXPECT_EQ(readWholeFile(row.file), row.content);
    }
  }
  EXPECT_EQ(readWholeFile(other), "a1\n") << "the other name keeps the old content";

  // A read-only file system, in a mount namespace of its own where one can be made: no
  // --force is offered, as none would help.
  const std::string script = write("ro.sh",
                                   "mount -t tmpfs tmpfs \"$1\" || exit 97\n"
                                   "printf 'a1\\n' > \"$1/in.csv\" || exit 97\n"
                                   "mount -o remount,ro \"$1\" || exit 97\n"
                                   "exec \"$2\" apply RNUM \"$1/in.csv\" --in-place 2>&1\n");
  fs::create_directories(path("mnt"));
  const std::string command =
      "unshare -rm sh " + script + " " + path("mnt") + " " + QMV_BINARY_DIR "/tools/qmv/qmv 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string said;
  char buffer[512];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) said.append(buffer, n);
  const int status = ::pclose(pipe);
  // Only a namespace or mount this machine refuses is a reason to leave the case out; any
  // other failure (a missing program among them) fails the test below.
  if (said.starts_with("unshare:") || (WIFEXITED(status) && WEXITSTATUS(status) == 97)) {
    GTEST_SKIP() << "no mount namespace here: " << said;
  }
  EXPECT_NE(status, 0);
  EXPECT_NE(said.find("read-only file system; write the result elsewhere with -o OUT"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("--force"), std::string::npos) << said;
}

TEST_F(TextApplyTest, ValueRemovalsWorkOnOneColumnBelowTheHeader) {
  const std::string input = "k,v\nx,1\nX,2\ny,3\n,4\nz,5\n";
  ApplyRequest r = request("duplicates", input);
  r.columns = "k";
  r.noHeader = false;
  EXPECT_EQ(run(r).out, "k,v\n,1\n,2\ny,3\n,4\nz,5\n");
  r.operation = "unique";
  EXPECT_EQ(run(r).out, "k,v\nx,1\nX,2\n,3\n,4\n,5\n");
  r.operation = "keep-one";
  EXPECT_EQ(run(r).out, "k,v\nx,1\n,2\ny,3\n,4\nz,5\n");
  ApplyRequest wide = request("RADP", input);
  const Ran ran = run(wide);
  EXPECT_EQ(ran.status, 2);
  EXPECT_NE(ran.err.find("single column"), std::string::npos) << ran.err;
  EXPECT_EQ(ran.out, "");
}

}  // namespace
}  // namespace qmv::cli
