#include "tools/qmv/cli.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <sstream>

#include "tools/qmv/apply.hpp"
#include "tools/qmv/player.hpp"

#ifndef QMV_VERSION
#define QMV_VERSION "unknown"
#endif

namespace qmv::cli {
namespace {

constexpr const char* kPlayHelp =
    R"(One command per line; blank lines and lines starting with # are ignored.
Strings are in double quotes with \" \\ \t \n \r and \uXXXX. A VALUE is "text", a number,
TRUE, FALSE, empty, date:2007-01-02[T15:04:05], error:#N/A or formula "=A1+1" VALUE.

Host:   workbook | close-workbooks | sheet NAME | set CELL VALUE | column CELL VALUE...
        fill CELL RRGGBB|none | hide-row N | select REF | load FILE.csv | save FILE.csv
        addin-item "NAME" [TRUE|FALSE] | connect | disconnect
        unicode on|off (the user's stored choice of Unicode text rules)
User:   click TAG | key ^z | host-undo
        while a form is shown: type CONTROL "TEXT" | paste CONTROL "TEXT" | clear CONTROL
        press CONTROL | toggle CONTROL | pick CONTROL | choose CONTROL INDEX|"ENTRY"
        mousedown [CONTROL] | close
Queued: answer "TEXT" | answer-cancel | stop-at N (the Nth yield from now)
Checks: expect CELL VALUE | expect column CELL VALUE... | expect fill CELL RRGGBB|none
        expect message "TEXT" | expect no-message
        expect control FORM.CONTROL caption|text|visible|enabled|value|listindex|
                       listcount|tooltip|max VALUE, or ... list INDEX VALUE
        expect form FORM shown|loaded|unloaded
        expect host statusbar|screenupdating|calculation|cancelkey VALUE
        expect host onundo "TEXT" "MACRO"|none | expect host onkey "KEY" "MACRO"|none
        expect bar "NAME" present|absent | expect popup "CAPTION" count N
        expect addin "NAME" installed VALUE | expect browsed "ADDRESS" | print REF
load and save find relative paths beside the script.

Exit status: 0 every expectation held, 1 an expectation failed, 2 a script error.)";

bool isCode(std::string_view name) {
  return name.size() == 4 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The codes with their readable names, then the names that pick a code by their options.
std::string operationsHelp() {
  const auto& names = operationNames();
  std::ostringstream out;
  out << "OPERATION (any case):\n";
  for (const auto& code : names) {
    if (!isCode(code.name)) continue;
    std::string aliases;
    for (const auto& alias : names) {
      if (!isCode(alias.name) && alias.meaning == code.name) {
        aliases += (aliases.empty() ? "" : ", ") + std::string(alias.name);
      }
    }
    std::string line = "  " + std::string(code.name) + "  " + aliases;
    line.resize(std::max<std::size_t>(line.size() + 1, 22), ' ');
    out << line << code.meaning << '\n';
  }
  for (const auto& name : names) {
    if (isCode(name.name) || isCode(name.meaning)) continue;
    std::string line = "  " + std::string(name.name);
    line.resize(22, ' ');
    out << line << name.meaning << '\n';
  }
  out << "\nExit status: 0 done, 1 the file could not be read or written or the add-in refused\n"
         "the run, 2 a bad option (nothing is written).\n";
  return out.str();
}

// Keeps an option's text when it was given at all.
std::optional<std::string> given(const CLI::Option* option, const std::string& value) {
  if (option->count() == 0) return std::nullopt;
  return value;
}

}  // namespace

int runQmv(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, bool errIsTerminal, std::function<void(int)> finish) {
  CLI::App app{
      "Vandrel QMV: removes text from the cells of CSV files and replays sessions of the add-in "
      "on an in-memory workbook.",
      "qmv"};
  app.set_version_flag("--version", QMV_VERSION);
  app.require_subcommand(0, 1);

  ApplyRequest request;
  std::string range, start, count, chars, separator, occurrence, output;
  CLI::App* apply = app.add_subcommand("apply", "Run one removal over a CSV file");
  apply->footer(operationsHelp());
  apply->add_option("OPERATION", request.operation, "Removal code or name (listed below)")
      ->required();
  apply->add_option("FILE", request.file, "CSV file (UTF-8, RFC 4180)")->required();
  auto* rangeOption = apply->add_option(
      "--range", range, "Cells to work on, like B2:B6 or B:B (default: the used range)");
  auto* startOption = apply->add_option("--start", start, "Start position N, 1 to 32767");
  auto* countOption = apply->add_option("--count", count, "Number of characters X, 0 to 32767");
  auto* charsOption = apply->add_option("--chars", chars, "Characters to remove (RUDC)");
  auto* separatorOption = apply->add_option(
      "--separator", separator, "Start position at a separator character C (runs the wizard)");
  auto* occurrenceOption = apply->add_option(
      "--occurrence", occurrence, "Which separator: 1st, 2nd, 3rd, 4th, Last or N (default 1st)");
  apply->add_flag("--before", request.before, "Remove before the start position");
  apply->add_flag("--after", request.after, "Remove after the start position");
  apply->add_flag("--all", request.all, "Remove all the text before or after the start position");
  auto* outputOption = apply->add_option("-o,--output", output, "Write the result to OUT");
  apply->add_flag("--in-place", request.inPlace, "Replace FILE with the result (safely)");
  apply->add_flag("--unicode", request.unicode,
                  "Unicode text: every kind of space, invisible character and letter counts; "
                  "an emoji is one character");

  std::string script;
  bool echo = false;
  CLI::App* play = app.add_subcommand("play", "Replay a session script against the add-in");
  play->footer(kPlayHelp);
  play->add_option("SCRIPT", script, "Session script, or - for standard input")->required();
  play->add_flag("--echo", echo, "Echo every command into the transcript");

  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const auto& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    const CLI::App* target = apply->parsed() ? apply : play->parsed() ? play : &app;
    out << target->help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    out << QMV_VERSION << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    const std::string where = apply->parsed()  ? "qmv apply: "
                              : play->parsed() ? "qmv play: "
                                               : "qmv: ";
    err << where << e.what() << " (see --help)\n";
    return 2;
  }

  const auto dispatch = [&]() -> int {
    if (apply->parsed()) {
      request.range = given(rangeOption, range);
      request.start = given(startOption, start);
      request.count = given(countOption, count);
      request.chars = given(charsOption, chars);
      request.separator = given(separatorOption, separator);
      request.occurrence = given(occurrenceOption, occurrence);
      request.output = given(outputOption, output);
      ApplyStreams streams{out, err, errIsTerminal, std::move(finish)};
      return runApply(request, streams);
    }
    if (play->parsed()) {
      PlayStreams streams{out, err};
      return runPlay(script, echo, in, streams);
    }
    out << app.help();
    return 0;
  };
  try {
    return dispatch();
  } catch (const std::bad_alloc&) {
    err << (apply->parsed() ? "qmv apply: " : "qmv play: ") << "not enough memory\n";
  } catch (const std::exception& e) {
    err << (apply->parsed() ? "qmv apply: " : "qmv play: ") << "failed: " << e.what() << '\n';
  }
  return 1;
}

}  // namespace qmv::cli
