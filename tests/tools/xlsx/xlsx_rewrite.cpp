// Rewrites the cells of a workbook's first sheet through Workbook::save, for the readers'
// comparison: `xlsx_rewrite IN OUT REF=TEXT...` gives each named cell its new text as a
// removal would; `--every-cell` instead rewrites every constant cell from its own shown
// text, as a writer that stores more than the removal changed does.
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/xlsx/workbook.hpp"

int main(int argc, char** argv) {
  using namespace qmv;
  if (argc < 3) {
    std::cerr << "usage: xlsx_rewrite IN OUT [--every-cell] [REF=TEXT...]\n";
    return 2;
  }
  bool everyCell = false;
  std::map<std::string, std::u16string> changes;
  for (int i = 3; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--every-cell") {
      everyCell = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    changes[argument.substr(0, equals)] = toUtf16(argument.substr(equals + 1));
  }
  try {
    const auto book = xlsx::Workbook::open(argv[1]);
    book->save(argv[2], {{0, [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
                            const auto found = changes.find(xlsx::cellReference(cell.ref));
                            if (found != changes.end()) {
                              return book->changedCellXml(cell, found->second);
                            }
                            if (!everyCell || cell.formula) return std::nullopt;
                            const auto text = cellText(book->valueOf(cell), HostLocale{});
                            if (!text || text->empty()) return std::nullopt;
                            return book->changedCellXml(cell, *text);
                          }}});
  } catch (const xlsx::XlsxError& e) {
    std::cerr << "xlsx_rewrite: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
