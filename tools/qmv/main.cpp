// qmv: the command-line front end of Vandrel QMV over the in-memory workbook.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

namespace {

// A command whose implementation is still to come: it accepts any arguments and says so.
CLI::App* pendingCommand(CLI::App& app, const std::string& name, const std::string& summary) {
  CLI::App* command = app.add_subcommand(name, summary);
  command->allow_extras();
  command->callback([name] {
    std::cerr << "qmv " << name << ": not yet available\n";
    throw CLI::RuntimeError(2);
  });
  return command;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Vandrel QMV: removes text from the cells of CSV files and replays sessions of "
      "the add-in on an in-memory workbook.",
      "qmv"};
  app.set_version_flag("--version", QMV_VERSION);
  pendingCommand(app, "apply", "Run one removal over a CSV file");
  pendingCommand(app, "play", "Replay a session script (- for standard input)");
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end well; every usage error is status 2.
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (app.get_subcommands().empty()) std::cout << app.help();
  return 0;
}
