// Hostile inputs through the built `qmv` program, run as a separate process: each ends in
// one clear line of error and the right exit status, or in the right result; never in a
// crash, a hang or a partly written output file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qmv::reliability {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const fs::path kQmv = fs::path(QMV_BINARY_DIR) / "tools" / "qmv" / "qmv";
/// Far beyond any run of these small inputs, sanitizers included: only a hang reaches it.
constexpr auto kHangLimit = std::chrono::seconds(60);

struct Outcome {
  std::optional<int> status;  ///< exit status; none when killed by a signal or hung
  int signal = 0;
  bool hung = false;
  std::string out;
  std::string err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

/// Runs qmv with `args` in `dir`, standard input from `input`.
Outcome runQmv(const fs::path& dir, const std::vector<std::string>& args,
               const std::string& input = {}) {
  const fs::path in = dir / ".stdin";
  const fs::path out = dir / ".stdout";
  const fs::path err = dir / ".stderr";
  writeFile(in, input);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv{kQmv.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  // The inputs here are rows of data: row 1 is no header unless -c names columns under one.
  if (!args.empty() && args[0] == "apply" &&
      std::find(args.begin(), args.end(), "-c") == args.end()) {
    argv.emplace_back("--no-header");
  }
  std::vector<char*> pointers;
  for (auto& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);

  // The program resolves relative paths against its working directory.
  const fs::path here = fs::current_path();
  fs::current_path(dir);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, kQmv.c_str(), &actions, nullptr, pointers.data(), environ);
  fs::current_path(here);
  posix_spawn_file_actions_destroy(&actions);

  Outcome outcome;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << kQmv;
    return outcome;
  }
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  int wstatus = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      outcome.hung = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!outcome.hung) {
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) outcome.signal = WTERMSIG(wstatus);
  }
  outcome.out = readFile(out);
  outcome.err = readFile(err);
  fs::remove(in);
  fs::remove(out);
  fs::remove(err);
  return outcome;
}

/// A fresh folder for one case.
class Scratch {
 public:
  explicit Scratch(const std::string& name) {
    std::string pattern = (fs::temp_directory_path() / "qmv-bad-input-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + name);
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& path() const { return path_; }
  /// Names of the files in the folder.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

/// Lines of a text, without their line breaks.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

void expectNoCrashOrHang(const Outcome& outcome) {
  EXPECT_FALSE(outcome.hung) << "qmv hung";
  EXPECT_EQ(outcome.signal, 0) << "qmv died of signal " << outcome.signal << ": " << outcome.err;
  for (const char* mark : {"terminate called", "Sanitizer", "runtime error", "Assertion"}) {
    EXPECT_EQ(outcome.err.find(mark), std::string::npos) << outcome.err;
  }
}

/// Exactly one line of error, naming the command and holding `fragment`.
void expectOneLineError(const Outcome& outcome, const std::string& command,
                        const std::string& fragment) {
  const std::vector<std::string> errors = lines(outcome.err);
  ASSERT_EQ(errors.size(), 1u) << "standard error:\n" << outcome.err;
  EXPECT_EQ(errors.front().rfind("qmv " + command + ": ", 0), 0u) << errors.front();
  EXPECT_NE(errors.front().find(fragment), std::string::npos) << errors.front();
  EXPECT_EQ(outcome.err.back(), '\n');
}

std::string repeated(const std::string& unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// ---- qmv apply ------------------------------------------------------------------------

struct ApplyCase {
  const char* name;
  std::string input;                  ///< the CSV file's bytes
  std::vector<std::string> args;      ///< after "apply", before the file
  int status;                         ///< expected exit status
  std::string fragment;               ///< error: part of the one line; success: unused
  std::optional<std::string> result;  ///< success: the output file's bytes
};

std::vector<ApplyCase> applyCases() {
  const std::string longest = repeated("1a", 16383) + "9";  // 32,767 characters
  const std::string tooLong = repeated("1a", 16500);        // 33,000 characters
  return {
      {"empty file", "", {"RNUM"}, 0, "", ""},
      {"only line breaks", "\r\n\r\n", {"RNUM"}, 0, "", "\r\n\r\n"},
      {"lone quote",
       "a,\"b\n",
       {"RNUM"},
       1,
       "line 1, column 3: a quoted field is not closed",
       std::nullopt},
      {"lone quote on a later line",
       "a1,b\nc,\"d2\ne\n",
       {"RNUM"},
       1,
       "line 2, column 3",
       std::nullopt},
      {"text after a closing quote", "\"a\"b\n", {"RNUM"}, 1, "closing quote", std::nullopt},
      {"invalid UTF-8", "a,\xFF\n", {"RNUM"}, 1, "not valid UTF-8", std::nullopt},
      {"UTF-8 cut short at the end", "ab\xE2\x82", {"RNUM"}, 1, "not valid UTF-8", std::nullopt},
      {"an encoded surrogate", "a\xED\xA0\x80", {"RNUM"}, 1, "not valid UTF-8", std::nullopt},
      {"a UTF-16 file, read by its mark",
       "\xFF\xFE"
       "a\0"s,
       {"RNUM"},
       0,
       "",
       "\xFF\xFE"
       "a\0"s},
      {"a UTF-16 file, typed",
       "\xFF\xFE"
       "a\0"s,
       {"RNUM", "--typed"},
       1,
       "UTF-16",
       std::nullopt},
      {"UTF-16 with a lone surrogate",
       "\x3D\xD8"
       "a\0"s,
       {"RNUM", "-e", "UTF-16LE"},
       1,
       "UTF-16LE",
       std::nullopt},
      {"UTF-16 cut short",
       "\xFF\xFE"
       "a"s,
       {"RNUM"},
       1,
       "ends inside",
       std::nullopt},
      {"an encoding iconv does not know", "a\n", {"RNUM", "-e", "KLINGON"}, 2, "-e", std::nullopt},
      {"a quote as delimiter", "a\n", {"RNUM", "-d", "\""}, 2, "-d", std::nullopt},
      {"a two-character delimiter", "a\n", {"RNUM", "-d", ";;"}, 2, "-d", std::nullopt},
      {"Latin-1 read as UTF-8", "M\xFCller1\n", {"RNUM"}, 1, "-e", std::nullopt},
      {"typed fields untouched outside the range",
       "x1,007,4111111111111111111,1/2,12:30,3-4,50%,\"1,234.50\",yes,1e5,(5)\n",
       {"RNUM", "--range", "Z:Z"},
       0,
       "",
       "x1,007,4111111111111111111,1/2,12:30,3-4,50%,\"1,234.50\",yes,1e5,(5)\n"},
      {"half a surrogate pair removed",
       "a\xF0\x9F\x98\x80"
       "b\xF0\x9F\x98\x81"
       "c\n",
       {"RUDC", "--chars", "\xF0\x9F\x98\x80"},
       0,
       "",
       "ab\xF0\x9F\x98\x81"
       "c\n"},
      {"a start inside a pair",
       "a\xF0\x9F\x98\x80"
       "b\n",
       {"RBSP", "--start", "2"},
       0,
       "",
       "\xF0\x9F\x98\x80"
       "b\n"},
      {"a removal that makes a formula, guarded",
       "a=1+1\n",
       {"RALP", "--guard-formulas"},
       0,
       "",
       "'=1+1\n"},
      {"a column name that is not in the header",
       "a,b\n1,2\n",
       {"RNUM", "-c", "c d"},
       2,
       "-c",
       std::nullopt},
      {"a value removal in a list", "a\n", {"digits,RADP"}, 2, "OPERATION", std::nullopt},
      {"an empty name in a list", "a\n", {"digits,"}, 2, "OPERATION", std::nullopt},
      {"a limit without a dry run", "a\n", {"RNUM", "--limit", "3"}, 2, "--limit", std::nullopt},
      {"a byte-order mark in a single-byte encoding",
       "a\n",
       {"RNUM", "--output-encoding", "ISO-8859-1", "--bom", "yes"},
       2,
       "--bom",
       std::nullopt},
      {"a 32,767-character cell", longest + "\n", {"RNUM"}, 0, "", repeated("a", 16383) + "\n"},
      // CSV has no cell limit: a removal takes a field of any length, a value removal too
      // (keep one compares whole texts, without regard to case).
      {"a 33,000-character field",
       "x," + tooLong + "\n",
       {"RNUM"},
       0,
       "",
       "x," + repeated("a", 16500) + "\n"},
      {"a 33,000-character field for a value removal",
       "h\n" + tooLong + "\n" + repeated("1A", 16500) + "\n",
       {"RDPV"},
       0,
       "",
       "h\n" + tooLong + "\n\n"},
      {"NUL bytes kept by RNUM", "a\0b1,c\n"s, {"RNUM"}, 0, "", "a\0b,c\n"s},
      {"NUL bytes removed by RNPC",
       "a\0b\x01"
       "c\n"s,
       {"RNPC"},
       0,
       "",
       "abc\n"},
      {"range A0", "a1\n", {"RNUM", "--range", "A0"}, 2, "--range", std::nullopt},
      {"range XFE1", "a1\n", {"RNUM", "--range", "XFE1"}, 2, "--range", std::nullopt},
      {"range A1:A1048577", "a1\n", {"RNUM", "--range", "A1:A1048577"}, 2, "--range", std::nullopt},
      {"empty range", "a1\n", {"RNUM", "--range", ""}, 2, "--range", std::nullopt},
      {"start 0", "abc\n", {"RBSP", "--start", "0"}, 2, "--start", std::nullopt},
      {"start 32768", "abc\n", {"RBSP", "--start", "32768"}, 2, "--start", std::nullopt},
      {"start -1", "abc\n", {"RBSP", "--start", "-1"}, 2, "--start", std::nullopt},
      {"start 1.5", "abc\n", {"RBSP", "--start", "1.5"}, 2, "--start", std::nullopt},
      {"start not a number", "abc\n", {"RBSP", "--start", "x"}, 2, "--start", std::nullopt},
      {"start 32767 on a short text", "abc\n", {"RBSP", "--start", "32767"}, 0, "", "\n"},
      {"count -1", "abc\n", {"RNAP", "--start", "1", "--count", "-1"}, 2, "--count", std::nullopt},
      {"count 32768",
       "abc\n",
       {"RNAP", "--start", "1", "--count", "32768"},
       2,
       "--count",
       std::nullopt},
      {"start and count past 16 bits",
       "abcdef\n",
       {"RNAP", "--start", "32767", "--count", "32767"},
       0,
       "",
       "abcdef\n"},
      {"separator of two characters",
       "a-b\n",
       {"before", "--all", "--separator", "ab"},
       2,
       "--separator",
       std::nullopt},
      {"occurrence 0",
       "a-b\n",
       {"before", "--all", "--separator", "-", "--occurrence", "0"},
       2,
       "--occurrence",
       std::nullopt},
      {"occurrence 40000",
       "a-b\n",
       {"before", "--all", "--separator", "-", "--occurrence", "40000"},
       2,
       "--occurrence",
       std::nullopt},
      {"unknown operation", "a\n", {"RXYZ"}, 2, "OPERATION", std::nullopt},
      {"an option the operation does not take",
       "a\n",
       {"RNUM", "--before"},
       2,
       "--before",
       std::nullopt},
      {"more rows than a sheet has, streamed",
       repeated("a1\n", 1048577),
       {"RNUM"},
       0,
       "",
       repeated("a\n", 1048577)},
      {"more rows than a sheet has, typed",
       repeated("a\n", 1048577),
       {"RNUM", "--typed"},
       1,
       "1,048,576",
       std::nullopt},
      {"more columns than a sheet has",
       repeated("a,", 16384) + "a\n",
       {"RNUM"},
       1,
       "16,384",
       std::nullopt},
  };
}

TEST(BadInputThroughApply, OneLineErrorOrTheRightResult) {
  ASSERT_TRUE(fs::exists(kQmv)) << "build the qmv program first: " << kQmv;
  for (const ApplyCase& row : applyCases()) {
    SCOPED_TRACE(row.name);
    Scratch dir(row.name);
    writeFile(dir.path() / "in.csv", row.input);
    std::vector<std::string> args{"apply"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.insert(args.end(), {"in.csv", "-o", "out.csv"});
    const Outcome outcome = runQmv(dir.path(), args);
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    EXPECT_EQ(readFile(dir.path() / "in.csv"), row.input) << "the input file changed";
    if (row.result) {
      ASSERT_TRUE(fs::exists(dir.path() / "out.csv")) << outcome.err;
      EXPECT_EQ(readFile(dir.path() / "out.csv"), *row.result);
    } else {
      expectOneLineError(outcome, "apply", row.fragment);
      EXPECT_EQ(dir.files(), std::vector<std::string>{"in.csv"}) << "an output file was left";
    }
  }
}

TEST(BadInputThroughApply, FailuresLeaveTheFileInPlaceAlone) {
  ASSERT_TRUE(fs::exists(kQmv)) << kQmv;
  const std::string bad = "a1,\"b\nc\n";
  Scratch dir("in place");
  writeFile(dir.path() / "in.csv", bad);
  const Outcome outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "--in-place"});
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 1);
  expectOneLineError(outcome, "apply", "not closed");
  EXPECT_EQ(readFile(dir.path() / "in.csv"), bad);
  EXPECT_EQ(dir.files(), std::vector<std::string>{"in.csv"}) << "a temporary file was left";
}

TEST(BadInputThroughApply, FilesThatCannotBeReadOrWritten) {
  ASSERT_TRUE(fs::exists(kQmv)) << kQmv;
  Scratch dir("files");
  writeFile(dir.path() / "in.csv", "a1\n");
  Outcome outcome = runQmv(dir.path(), {"apply", "RNUM", "missing.csv", "-o", "out.csv"});
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 1);
  expectOneLineError(outcome, "apply", "missing.csv");

  outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "-o", "no-such-folder/out.csv"});
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 1);
  expectOneLineError(outcome, "apply", "no-such-folder/out.csv");

  // A folder where the file should be.
  fs::create_directory(dir.path() / "folder.csv");
  outcome = runQmv(dir.path(), {"apply", "RNUM", "folder.csv", "-o", "out.csv"});
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 1);
  expectOneLineError(outcome, "apply", "folder.csv");
  EXPECT_FALSE(fs::exists(dir.path() / "out.csv"));
}

TEST(BadInputThroughApply, StandardStreamsDevicesAndReadOnlyTargets) {
  ASSERT_TRUE(fs::exists(kQmv)) << kQmv;
  Scratch dir("streams");
  Outcome outcome = runQmv(dir.path(), {"apply", "RNUM", "-"}, "a1\r\n\"b2\"\r\n");
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "a\r\n\"b\"\r\n");
  // A value removal reads standard input twice, from a copy.
  outcome = runQmv(dir.path(), {"apply", "RADP", "-", "-o", "-"}, "x\nX\ny\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "\n\ny\n");
  outcome = runQmv(dir.path(), {"apply", "RNUM", "-", "--in-place"}, "a1\n");
  EXPECT_EQ(outcome.status, 2);
  expectOneLineError(outcome, "apply", "--in-place");

  writeFile(dir.path() / "in.csv", "a1\n");
  outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "-o", "/dev/stdout"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "a\n");
  outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "-o", "/dev/null"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(fs::is_character_file("/dev/null")) << "the device was replaced";

  writeFile(dir.path() / "locked.csv", "old\n");
  fs::permissions(dir.path() / "locked.csv", fs::perms::owner_read | fs::perms::group_read);
  outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "-o", "locked.csv"});
  EXPECT_EQ(outcome.status, 1);
  expectOneLineError(outcome, "apply", "read-only");
  EXPECT_EQ(readFile(dir.path() / "locked.csv"), "old\n");
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.csv", "locked.csv"}));
  outcome = runQmv(dir.path(), {"apply", "RNUM", "in.csv", "-o", "locked.csv", "--force"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(readFile(dir.path() / "locked.csv"), "a\n");
}

// ---- qmv play -------------------------------------------------------------------------

struct PlayCase {
  const char* name;
  std::string script;
  int status;
  std::string fragment;  ///< error: part of the one line; success: empty
};

std::vector<PlayCase> playCases() {
  const std::string longest = repeated("x1", 16383) + "y";
  return {
      {"empty script", "", 0, ""},
      {"only comments and blank lines", "# nothing\n\n   \n", 0, ""},
      {"invalid UTF-8", "workbook\nset A1 \"\xFF\"\n", 2, "line 2"},
      {"unclosed string", "workbook\nset A1 \"abc\n", 2, "line 2"},
      {"lone quote in a word", "workbook\nset A1 ab\"c\n", 2, "line 2"},
      {"unknown escape", "workbook\nset A1 \"\\q\"\n", 2, "line 2"},
      {"NUL byte in a string is a character",
       "workbook\nset A1 \"a\0b1\"\nselect A1\nconnect\nclick QMV1\n"
       "press CommandButton1\nexpect A1 \"a\\u0000b\"\n"s,
       0, ""},
      {"NUL byte in a word", "workbook\nsel\0ect A1\n"s, 2, "line 2"},
      {"select A0", "workbook\nselect A0\n", 2, "line 2"},
      {"select XFE1", "workbook\nselect XFE1\n", 2, "line 2"},
      {"select A1:A1048577", "workbook\nselect A1:A1048577\n", 2, "line 2"},
      {"hide row 0", "workbook\nhide-row 0\n", 2, "line 2"},
      {"hide row 1048577", "workbook\nhide-row 1048577\n", 2, "line 2"},
      {"stop at 0", "workbook\nstop-at 0\n", 2, "line 2"},
      {"a 32,767-character text",
       "workbook\nset A1 \"" + longest + "\"\nexpect A1 \"" + longest + "\"\n", 0, ""},
      {"a 33,000-character text", "workbook\nset A1 \"" + repeated("x", 33000) + "\"\n", 2,
       "line 2"},
      {"load a CSV with a lone quote", "workbook\nload bad.csv\n", 2,
       "a quoted field is not closed"},
      {"load a file that does not exist", "workbook\nload missing.csv\n", 2, "missing.csv"},
      {"a form left open at the end", "workbook\nset A1 \"a1\"\nselect A1\nconnect\nclick QMV1\n",
       2, "frmPrgBar"},
      {"a disabled control", "workbook\nconnect\nclick QMV0\nchoose cmbAN 99\n", 2, "line 4"},
      {"an unknown command", "frobnicate\n", 2, "line 1"},
  };
}

TEST(BadInputThroughPlay, OneLineErrorOrTheRightResult) {
  ASSERT_TRUE(fs::exists(kQmv)) << kQmv;
  for (const PlayCase& row : playCases()) {
    SCOPED_TRACE(row.name);
    Scratch dir(row.name);
    writeFile(dir.path() / "bad.csv", "a,\"b\n");
    writeFile(dir.path() / "s.qmv", row.script);
    const Outcome outcome = runQmv(dir.path(), {"play", "s.qmv"});
    expectNoCrashOrHang(outcome);
    EXPECT_EQ(outcome.status, row.status) << outcome.err << outcome.out;
    if (row.status == 0) {
      EXPECT_TRUE(outcome.err.empty()) << outcome.err;
    } else {
      expectOneLineError(outcome, "play", row.fragment);
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"bad.csv", "s.qmv"}));
  }
}

TEST(BadInputThroughPlay, ScriptsFromStandardInput) {
  ASSERT_TRUE(fs::exists(kQmv)) << kQmv;
  Scratch dir("stdin");
  Outcome outcome = runQmv(dir.path(), {"play", "-"}, "");
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 0) << outcome.err;

  outcome = runQmv(dir.path(), {"play", "-"}, "workbook\nselect A0\n");
  expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.status, 2);
  expectOneLineError(outcome, "play", "line 2");
}

}  // namespace
}  // namespace qmv::reliability
