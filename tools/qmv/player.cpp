#include "tools/qmv/player.hpp"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "addin/entry_points.hpp"
#include "addin/ribbon_table.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/recipe.hpp"
#include "host/text.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "tools/qmv/file_format.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/host_script.hpp"
#include "tools/qmv/script.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/values.hpp"
#include "tools/qmv/workbook_file.hpp"
#include "tools/xlsx/package.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::cli {
namespace {

// Areas up to this many cells are printed cell by cell, empty ones included.
constexpr int64_t kPrintedInFull = 10000;

// Thrown after a script error has been recorded, to leave the forms that are shown.
struct ScriptAbort {};

std::string quoted(std::u16string_view text) { return quoteText(text); }

class Player final : public memory::HeadlessUser {
 public:
  Player(std::vector<Command> commands, const PlayOptions& options, PlayStreams& streams)
      : options_(options), streams_(streams), commands_(std::move(commands)) {
    toolkit_.setListener([this](const memory::HeadlessEvent& event) {
      if (event.kind == memory::HeadlessEventKind::ScriptEnded) endedForm_ = event.form;
      streams_.out << memory::describe(event) << '\n';
    });
  }

  int run() {
    while (next_ < commands_.size() && !error_) {
      const Command& command = commands_[next_++];
      try {
        runTop(command);
      } catch (const ScriptAbort&) {
      } catch (const std::exception&) {
        record(failureAt(command));
      }
      if (!error_ && toolkit_.scriptEnded()) {
        record(ScriptError(command.line,
                           "the script ended while the form " + endedForm_ + " was shown"));
      }
      // After a script error the host's note of the aborted click handler is noise.
      if (!error_) reportHostErrors();
    }
    streams_.out.flush();
    if (error_) throw *error_;
    if (failures_ > 0) {
      streams_.err << "qmv play: " << options_.scriptName << ": " << failures_ << " of " << checks_
                   << (checks_ == 1 ? " expectation" : " expectations") << " failed\n";
      return 1;
    }
    return 0;
  }

  bool act(memory::HeadlessToolkit& /*toolkit*/, Form& shown) override {
    while (next_ < commands_.size()) {
      if (error_) throw ScriptAbort{};
      const Command& command = commands_[next_++];
      try {
        echo(command);
        if (isFormAction(command.op)) {
          formAction(command);
          reportHostErrors();
          return true;
        }
        if (!allowedWhileShown(command.op)) {
          throw ScriptError(command.line, command.name + " cannot run while the form " +
                                              shown.name() +
                                              " is shown; it takes the user's input until it "
                                              "closes");
        }
        queuedOrCheck(command);
      } catch (const std::exception&) {
        record(failureAt(command));
        throw ScriptAbort{};
      }
    }
    if (error_) throw ScriptAbort{};
    return false;
  }

 private:
  void record(const ScriptError& error) {
    if (!error_) error_ = error;
  }

  // The failure in flight (call it in a catch block) as the script error of `command`, the
  // one place a command's failure gets its words: a script error as it is; a file that
  // cannot be read, written or understood as `qmv apply` words it (failureOf, naming the
  // command's file); any other failure (a refused user action, a host error) by its own
  // message. Each after the command's name.
  ScriptError failureAt(const Command& command) const {
    const auto named = [&](const std::string& message) {
      return ScriptError(command.line, command.name + ": " + message);
    };
    try {
      throw;
    } catch (const ScriptError& e) {
      return e;
    } catch (const ApplyError&) {
      return named(failureOf(pathOf(command.text)).what());
    } catch (const xlsx::XlsxError&) {
      return named(failureOf(pathOf(command.text)).what());
    } catch (const CsvLoadError&) {
      return named(failureOf(pathOf(command.text)).what());
    } catch (const std::exception& e) {
      return named(e.what());
    }
  }

  void echo(const Command& command) {
    if (options_.echo) streams_.out << "> " << command.source << '\n';
  }

  void reportHostErrors() {
    const auto& errors = app_->hostErrors();
    for (; hostErrorsSeen_ < errors.size(); ++hostErrorsSeen_) {
      streams_.out << "host error: " << toUtf8(errors[hostErrorsSeen_]) << '\n';
    }
  }

  std::string pathOf(const std::u16string& file) const {
    std::string path = toUtf8(file);
    if (path.empty() || path.front() == '/' || options_.baseFolder.empty()) return path;
    return options_.baseFolder + "/" + path;
  }

  void runTop(const Command& command) {
    echo(command);
    if (isFormAction(command.op)) {
      throw ScriptError(command.line, command.name + ": no form is shown");
    }
    if (applyHostCommand(*app_, command)) return;
    switch (command.op) {
      case Op::Load:
        load(command);
        break;
      case Op::Save:
        save(command);
        break;
      case Op::Connect:
        connect_.AddinInstance_OnConnection(app_, instance_.get());
        break;
      case Op::Disconnect:
        connect_.AddinInstance_OnDisconnection();
        break;
      case Op::Click: {
        const CommandBarControlPtr control = app_->findControlByTag(command.text);
        if (!control) {
          throw ScriptError(command.line,
                            "click: no command-bar button has the tag " + toUtf8(command.text));
        }
        app_->click(*control);
        break;
      }
      case Op::Ribbon:
        // Office loads the tab, and so calls its buttons, only for a connected add-in.
        if (!module_.hostApp) {
          throw ScriptError(command.line, "ribbon: the add-in is not connected");
        }
        if (!pressRibbonButton(module_, command.text)) {
          throw ScriptError(command.line,
                            "ribbon: no Ribbon button has the id " + toUtf8(command.text));
        }
        break;
      case Op::Recipe:
        runRecipe(command);
        break;
      case Op::Key:
        // Control+Z that no macro holds is the host's Undo command, which may still run one.
        if (!app_->pressKey(command.text) && !app_->keyBinding(command.text)) {
          streams_.out << "key " << toUtf8(command.text) << ": no macro is bound to it\n";
        }
        break;
      case Op::HostUndo:
        if (!app_->undoBinding()) {
          streams_.out << "host-undo: the host's Undo entry is not bound\n";
          break;
        }
        app_->hostUndo();
        break;
      default:
        queuedOrCheck(command);
        break;
    }
  }

  // The recipe file through the dialog, as the add-in's command for it runs it; a recipe
  // that cannot be read is a script error naming its step and field.
  void runRecipe(const Command& command) {
    if (!module_.hostApp) throw ScriptError(command.line, "recipe: the add-in is not connected");
    const std::string text = readWholeFile(pathOf(command.text));
    std::string error;
    std::optional<Recipe> recipe = tryParseRecipe(text, error);
    if (!recipe) throw ScriptError(command.line, "recipe: " + toUtf8(command.text) + ": " + error);
    RunRecipe(module_, std::make_shared<const Recipe>(std::move(*recipe)));
  }

  void load(const Command& command) {
    const std::string path = pathOf(command.text);
    if (fileFormatOf(path) == FileFormat::Workbook) {
      workbook_ = loadWorkbookSheet(*app_, path);
      return;
    }
    const std::string text = readWholeFile(path);
    if (app_->workbooksCount() == 0) app_->addWorkbook();
    app_->activeSheet()->usedRange()->clear();
    loadCsv(*app_, text);
  }

  void save(const Command& command) {
    if (app_->workbooksCount() == 0) {
      throw ScriptError(command.line, "save: no workbook is open");
    }
    const std::string path = pathOf(command.text);
    if (fileFormatOf(path) == FileFormat::Workbook) {
      saveWorkbook(command, path);
      return;
    }
    replaceFile(path, sheetCsv(*app_, nullptr, CsvWriteOptions{}));
  }

  // A workbook is saved over a copy of the one it was loaded from, so that everything but
  // the changed cells stays as it was.
  void saveWorkbook(const Command& command, const std::string& path) {
    if (!workbook_) {
      throw ScriptError(command.line, "save: " + path +
                                          ": load a workbook first (its cells are written back "
                                          "into a copy of it)");
    }
    saveWorkbookSheet(*app_, *workbook_, path);
  }

  void formAction(const Command& command) {
    memory::HeadlessToolkit& tk = toolkit_;
    switch (command.op) {
      case Op::Type:
        tk.type(tk.shownControl(command.control), command.text);
        break;
      case Op::Paste:
        tk.paste(tk.shownControl(command.control), command.text);
        break;
      case Op::Clear:
        tk.clear(tk.shownControl(command.control));
        break;
      case Op::Press:
        tk.press(tk.shownControl(command.control));
        break;
      case Op::Toggle:
        tk.toggle(tk.shownControl(command.control));
        break;
      case Op::Pick:
        tk.pick(tk.shownControl(command.control));
        break;
      case Op::ChooseIndex:
        tk.choose(tk.shownControl(command.control), static_cast<int>(command.number));
        break;
      case Op::ChooseEntry:
        tk.choose(tk.shownControl(command.control), std::u16string_view(command.text));
        break;
      case Op::MouseDown:
        if (command.control.empty()) {
          tk.mouseDown(*tk.topForm());
        } else {
          tk.mouseDown(tk.shownControl(command.control));
        }
        break;
      case Op::Close:
        tk.close();
        break;
      default:
        break;
    }
  }

  void queuedOrCheck(const Command& command) {
    switch (command.op) {
      case Op::Answer:
        toolkit_.queueAnswer(command.text);
        return;
      case Op::AnswerCancel:
        toolkit_.queueCancel();
        return;
      case Op::AnswerFile:
        app_->queueFileAnswer(toUtf16(pathOf(command.text)));
        return;
      case Op::StopAt:
        toolkit_.scheduleStop(static_cast<uint64_t>(command.number));
        return;
      case Op::Print:
        print(command);
        return;
      default:
        check(command);
        return;
    }
  }

  // One line per cell or item that differs; an expectation counts as failed once.
  void failed(const Command& command, const std::string& expected, const std::string& actual) {
    if (lastFailed_ != &command) ++failures_;
    lastFailed_ = &command;
    streams_.out << "line " << command.line << ": expected " << expected << " but was " << actual
                 << '\n';
  }

  void requireWorkbook(const Command& command) {
    if (app_->workbooksCount() == 0) {
      throw ScriptError(command.line, command.name + ": no workbook is open");
    }
  }

  // The form of that name: the shown one, else the add-in's default instance.
  Form* formNamed(const Command& command) {
    if (Form* shown = toolkit_.shownForm(command.form)) return shown;
    if (command.form == "frmPrgBar") return module_.prgBar.get();
    if (command.form == "frmTextRemover") return module_.textRemover.get();
    if (command.form == "frmUG") return module_.ug.get();
    throw ScriptError(command.line, command.name + ": there is no form " + command.form +
                                        " (frmPrgBar, frmTextRemover, frmUG)");
  }

  Value controlProperty(const Command& command, const Control& control) {
    const std::string& p = command.property;
    if (p == "caption") return control.caption();
    if (p == "text") return control.text();
    if (p == "visible") return control.visible();
    if (p == "enabled") return control.enabled();
    if (p == "tooltip") return control.tooltip();
    if (p == "listindex") return static_cast<double>(control.listIndex());
    if (p == "listcount") return static_cast<double>(control.listCount());
    if (p == "max") return static_cast<double>(control.max());
    if (p == "list") {
      if (command.number >= control.listCount()) return Value{};
      return control.list()[static_cast<std::size_t>(command.number)];
    }
    switch (control.kind()) {  // value
      case ControlKind::CheckBox:
      case ControlKind::OptionButton:
        return control.checked();
      case ControlKind::ProgressBar:
        return static_cast<double>(control.value());
      case ControlKind::TextBox:
      case ControlKind::ComboBox:
        return control.text();
      default:
        return control.caption();
    }
  }

  void check(const Command& command) {
    ++checks_;
    if (isHostCheck(command.op)) {
      if (const auto mismatch = checkHost(*app_, command)) {
        failed(command, mismatch->expected, mismatch->actual);
      }
      return;
    }
    switch (command.op) {
      case Op::ExpectCell:
      case Op::ExpectColumn: {
        requireWorkbook(command);
        for (std::size_t i = 0; i < command.values.size(); ++i) {
          const CellRef at{command.cell.row + static_cast<int64_t>(i), command.cell.column};
          const CellContent actual = app_->cell(at);
          if (!sameContent(actual, command.values[i])) {
            failed(command, cellName(at) + " " + formatContent(command.values[i]),
                   formatContent(actual));
          }
        }
        return;
      }
      case Op::ExpectFill: {
        requireWorkbook(command);
        const auto actual = app_->fill(command.cell);
        const auto expected = command.none ? std::nullopt : command.colour;
        if (actual != expected) {
          failed(command, "fill " + cellName(command.cell) + " " + colourText(expected),
                 colourText(actual));
        }
        return;
      }
      case Op::ExpectMessage: {
        const auto& messages = toolkit_.messages();
        if (messagesChecked_ >= messages.size()) {
          failed(command, "message " + quoted(command.text), "no message");
          return;
        }
        const auto& message = messages[messagesChecked_++];
        if (message.text != command.text) {
          failed(command, "message " + quoted(command.text), "message " + quoted(message.text));
        }
        return;
      }
      case Op::ExpectNoMessage: {
        const auto& messages = toolkit_.messages();
        if (messagesChecked_ < messages.size()) {
          failed(command, "no message", "message " + quoted(messages[messagesChecked_].text));
          messagesChecked_ = messages.size();
        }
        return;
      }
      case Op::ExpectControl: {
        Form* form = formNamed(command);
        const std::string what =
            command.form + "." + command.control + " " + command.property +
            (command.property == "list" ? " " + std::to_string(command.number) : std::string());
        if (form == nullptr) {
          failed(command, what + " " + formatValue(command.values.front().value),
                 "no such form loaded yet");
          return;
        }
        const Control* control = form->find(command.control);
        if (control == nullptr) {
          throw ScriptError(command.line, command.name + ": the form " + command.form +
                                              " has no control " + command.control);
        }
        const Value actual = controlProperty(command, *control);
        if (!sameValue(actual, command.values.front().value)) {
          failed(command, what + " " + formatValue(command.values.front().value),
                 isEmpty(actual) ? "no such entry" : formatValue(actual));
        }
        return;
      }
      case Op::ExpectPreview: {
        Form* form = toolkit_.topForm();
        const Control* label = form ? form->find("lblPreview") : nullptr;
        if (label == nullptr) {
          failed(command, "preview " + quoted(command.text), "no form with a preview is shown");
        } else if (label->caption() != command.text) {
          failed(command, "preview " + quoted(command.text), "preview " + quoted(label->caption()));
        }
        return;
      }
      case Op::ExpectForm: {
        Form* form = formNamed(command);
        std::string state = "unloaded";
        if (toolkit_.shownForm(command.form) != nullptr) {
          state = "shown";
        } else if (form != nullptr && form->loaded()) {
          state = "loaded";
        }
        const bool holds =
            command.property == state || (command.property == "loaded" && state == "shown");
        if (!holds) failed(command, "form " + command.form + " " + command.property, state);
        return;
      }
      case Op::ExpectBrowsed: {
        const auto& opened = shell_.opened();
        if (browsedChecked_ >= opened.size()) {
          failed(command, "browsed " + quoted(command.text), "nothing browsed");
          return;
        }
        const auto& address = opened[browsedChecked_++];
        if (address != command.text) {
          failed(command, "browsed " + quoted(command.text), "browsed " + quoted(address));
        }
        return;
      }
      default:
        --checks_;
        return;
    }
  }

  void print(const Command& command) {
    requireWorkbook(command);
    const auto used = parseReference(app_->usedRangeAddress());
    const AreaRef limit = used ? used->front() : AreaRef{};
    for (const AreaRef& area : command.areas) {
      AreaRef shown = area;
      // Large areas (whole rows and columns) stop at the used cells.
      if (area.count() > kPrintedInFull) {
        shown.first.row = std::max(area.first.row, limit.first.row);
        shown.last.row = std::min(area.last.row, limit.last.row);
        shown.first.column = std::max(area.first.column, limit.first.column);
        shown.last.column = std::min(area.last.column, limit.last.column);
      }
      for (int64_t r = shown.first.row; r <= shown.last.row; ++r) {
        for (int64_t c = shown.first.column; c <= shown.last.column; ++c) {
          streams_.out << cellName({r, c}) << ": " << formatContent(app_->cell({r, c})) << '\n';
        }
      }
    }
  }

  const PlayOptions& options_;
  PlayStreams& streams_;
  std::shared_ptr<memory::MemoryApplication> app_ = std::make_shared<memory::MemoryApplication>();
  memory::HeadlessToolkit toolkit_{*this};
  memory::RecordedShell shell_;
  AddinModule module_{toolkit_, shell_};
  Connect connect_{module_};
  std::shared_ptr<AddInInstance> instance_ = app_->makeAddInInstance(u"Orvik.Connect");

  std::vector<Command> commands_;
  std::size_t next_ = 0;
  std::size_t messagesChecked_ = 0;
  std::size_t browsedChecked_ = 0;
  std::size_t hostErrorsSeen_ = 0;
  int failures_ = 0;
  const Command* lastFailed_ = nullptr;
  int checks_ = 0;
  std::optional<ScriptError> error_;
  std::optional<WorkbookSource> workbook_;  ///< the workbook the last load read
  std::string endedForm_;
};

// The boundary of a session: reads and plays the script, and turns whatever fails into the
// one line and status of `qmv play`, once. A script error, of the script's text or of a
// command (nothing runs after it), names the script and its line: status 2, as does a
// script that cannot be read (nothing ran). Anything else is a failure of the run, worded
// and numbered as `qmv apply` words it (failureOf).
template <class ReadScript>
int play(ReadScript&& readScript, const PlayOptions& options, PlayStreams& streams) {
  try {
    Player player(parseScript(readScript()), options, streams);
    return player.run();
  } catch (const std::exception&) {
    const ApplyError failure = [&] {
      try {
        throw;
      } catch (const ScriptError& e) {
        return ApplyError(2, options.scriptName + ": " + e.what());
      } catch (const FileError& e) {
        return ApplyError(2, e.what());
      } catch (const std::exception&) {
        return failureOf(options.scriptName);
      }
    }();
    streams.err << "qmv play: " << failure.what() << '\n';
    return failure.status();
  }
}

}  // namespace

int playScript(std::string_view script, const PlayOptions& options, PlayStreams& streams) {
  return play([&] { return script; }, options, streams);
}

int runPlay(const std::string& path, bool echo, std::istream& in, PlayStreams& streams) {
  PlayOptions options;
  options.echo = echo;
  options.scriptName = path;
  if (path != "-") {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) options.baseFolder = path.substr(0, slash == 0 ? 1 : slash);
  }
  return play(
      [&] {
        if (path != "-") return readWholeFile(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      },
      options, streams);
}

}  // namespace qmv::cli
