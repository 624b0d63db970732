#include "engine/character_removal.hpp"

#include "addin/addin_module.hpp"
#include "engine/box_number.hpp"
#include "engine/character_run.hpp"
#include "engine/transforms.hpp"
#include "host/host.hpp"

namespace qmv {

namespace {

const CharacterSet& digitSet() {
  static const CharacterSet set(charsets::kDigits);
  return set;
}
const CharacterSet& letterSet() {
  static const CharacterSet set(charsets::kLetters);
  return set;
}
const CharacterSet& upperSet() {
  static const CharacterSet set(charsets::kUpperCase);
  return set;
}
const CharacterSet& lowerSet() {
  static const CharacterSet set(charsets::kLowerCase);
  return set;
}

std::optional<std::u16string> cut(std::u16string_view text, bool before, bool wholeRest,
                                  const CharacterInputs& inputs) {
  if (!inputs.startPosition) return std::nullopt;
  if (wholeRest) return CutAtPosition(text, before, true, *inputs.startPosition, 0);
  if (!inputs.charCount) return std::nullopt;
  return CutAtPosition(text, before, false, *inputs.startPosition, *inputs.charCount);
}

}  // namespace

std::optional<std::u16string> applyCharacterOperation(Operation operation, std::u16string_view text,
                                                      const CharacterInputs& inputs,
                                                      WorksheetFunction* functions) {
  switch (operation) {
    case Operation::RNUM:
      return RemoveChars(text, digitSet());
    case Operation::RALP:
      return RemoveChars(text, letterSet());
    case Operation::RUPC:
      return RemoveChars(text, upperSet());
    case Operation::RLOC:
      return RemoveChars(text, lowerSet());
    case Operation::RUDC:
      return RemoveChars(text, inputs.userChars);
    case Operation::RALS:
      return removeSpaces(text);
    case Operation::RLTS:
      return trimEdges(text);
    case Operation::RLTE:
      if (!functions) return std::nullopt;
      return functions->trim(std::u16string(text));
    case Operation::RNPC:
      if (!functions) return std::nullopt;
      return functions->clean(std::u16string(text));
    case Operation::RBSP:
      return cut(text, true, true, inputs);
    case Operation::RASP:
      return cut(text, false, true, inputs);
    case Operation::RNBP:
      return cut(text, true, false, inputs);
    case Operation::RNAP:
      return cut(text, false, false, inputs);
    default:
      return std::nullopt;
  }
}

bool usesWorksheetFunctions(Operation operation) {
  return operation == Operation::RNPC || operation == Operation::RLTE;
}

void RunCharacterRemoval(AddinModule& module, Form& dialog, Operation operation) {
  const Control& startBox = dialog.control("txtSP");
  const Control& countBox = dialog.control("txtNOC");
  const Control& charsBox = dialog.control("txtUDC");
  const bool readsStart = usesStartPosition(operation);
  const bool readsCount = usesCharCount(operation);
  // The host's worksheet functions are fetched once, on first use.
  WorksheetFunction* functions = nullptr;
  // The boxes are read again for every cell.
  const CellTransform transform = [&](const std::u16string& text) -> std::optional<std::u16string> {
    CharacterInputs inputs;
    if (readsStart) inputs.startPosition = boxNumber(startBox.text());
    if (readsCount) inputs.charCount = boxNumber(countBox.text());
    if (operation == Operation::RUDC) inputs.userChars = charsBox.text();
    if (!functions && usesWorksheetFunctions(operation)) {
      functions = &module.hostApp->worksheetFunction();
    }
    return applyCharacterOperation(operation, text, inputs, functions);
  };
  runCharacterCells(
      module, RunForm{dialog, dialog.control("ProgressBar1"), dialog.control("lblPer")}, transform);
}

}  // namespace qmv
