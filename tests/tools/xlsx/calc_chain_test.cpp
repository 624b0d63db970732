// The calculation chain loses the entries of cells that no longer hold a formula, and the
// entries after them keep the sheet and dependency level the removed ones gave them.
#include "tools/xlsx/calc_chain.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/xlsx/package.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx {
namespace {

const std::string kHead =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)";
const std::string kTail = "</calcChain>";

// A whole chain part with `entries` under its root.
std::string chainOf(const std::string& entries) {
  std::string out = kHead;
  out += entries;
  out += kTail;
  return out;
}

struct ChainRow {
  const char* name;
  std::string entries;                              ///< between the root's tags
  std::set<std::pair<uint32_t, std::string>> gone;  ///< sheet id, cell
  std::optional<std::string> expected;              ///< the entries left, or none
};

TEST(CalcChain, RemovesTheEntriesOfCellsWithoutAFormula) {
  const std::vector<ChainRow> rows = {
      {"the last entry", R"(<c r="A6" i="1"/><c r="B6"/>)", {{1, "B6"}}, R"(<c r="A6" i="1"/>)"},
      {"the first entry hands its sheet on",
       R"(<c r="B6" i="1"/><c r="A6"/>)",
       {{1, "B6"}},
       R"(<c i="1" r="A6"/>)"},
      {"an entry of another sheet stays",
       R"(<c r="B6" i="2"/><c r="B6" i="1"/>)",
       {{1, "B6"}},
       R"(<c r="B6" i="2"/>)"},
      {"the sheet is handed on only where it changes",
       R"(<c r="A1" i="1"/><c r="A2" i="2"/><c r="A3"/><c r="A4" i="1"/><c r="A5"/>)",
       {{2, "A2"}, {1, "A4"}},
       R"(<c r="A1" i="1"/><c i="2" r="A3"/><c i="1" r="A5"/>)"},
      {"a new dependency level is handed on",
       R"(<c r="A1" i="1"/><c r="A2" l="1"/><c r="A3"/>)",
       {{1, "A2"}},
       R"(<c r="A1" i="1"/><c l="1" r="A3"/>)"},
      {"an entry that starts a level keeps its own",
       R"(<c r="A1" i="1" l="1"/><c r="A2" l="1"/>)",
       {{1, "A1"}},
       R"(<c i="1" r="A2" l="1"/>)"},
      {"other attributes and spacing stay",
       "\n  <c r=\"C3\" i=\"3\" a=\"1\"/>\n  <c r=\"D4\" s=\"1\"/>\n",
       {{3, "D4"}},
       "\n  <c r=\"C3\" i=\"3\" a=\"1\"/>\n  \n"},
      {"nothing named", R"(<c r="A1" i="1"/>)", {{2, "A1"}}, R"(<c r="A1" i="1"/>)"},
      {"every entry gone", R"(<c r="A1" i="1"/><c r="A2"/>)", {{1, "A1"}, {1, "A2"}}, std::nullopt},
  };
  for (const ChainRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto result =
        calcChainWithout(chainOf(row.entries), "calcChain.xml", [&](uint32_t id, CellRef ref) {
          return row.gone.contains({id, cellReference(ref)});
        });
    if (!row.expected) {
      EXPECT_FALSE(result.has_value()) << *result;
      continue;
    }
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, chainOf(*row.expected));
  }
}

struct RefusalRow {
  const char* name;
  std::string xml;
};

TEST(CalcChain, RefusesWhatItCannotEditSafely) {
  std::string utf16 = "\xFF\xFE";
  for (const char c : chainOf(R"(<c r="A1" i="1"/>)")) {
    utf16 += c;
    utf16 += '\0';
  }
  const std::vector<RefusalRow> rows = {
      {"malformed XML", chainOf("<c r=\"A1\"")},
      {"UTF-16 text", utf16},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_THROW(calcChainWithout(row.xml, "calcChain.xml", [](uint32_t, CellRef) { return true; }),
                 XlsxError);
    EXPECT_THROW(
        withoutChildren(row.xml, "calcChain.xml", "c", "r", [](std::string_view) { return true; }),
        XlsxError);
  }
}

struct ChildRow {
  const char* name;
  std::string xml;
  std::string expected;
};

TEST(CalcChain, TakesChildrenOutOfTheRelationshipsAndContentTypes) {
  const std::vector<ChildRow> rows = {
      {"a relationship",
       R"(<Relationships><Relationship Id="rId1" Type="x/worksheet" Target="a"/><Relationship Id="rId2" Type="x/calcChain" Target="calcChain.xml"/></Relationships>)",
       R"(<Relationships><Relationship Id="rId1" Type="x/worksheet" Target="a"/></Relationships>)"},
      {"a relationship with an end tag",
       R"(<Relationships><Relationship Type="x/calcChain"></Relationship> </Relationships>)",
       R"(<Relationships> </Relationships>)"},
      {"a deeper element of the same name stays",
       R"(<Relationships><x><Relationship Type="x/calcChain"/></x></Relationships>)",
       R"(<Relationships><x><Relationship Type="x/calcChain"/></x></Relationships>)"},
  };
  for (const ChildRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(withoutChildren(row.xml, "rels", "Relationship", "Type",
                              [](std::string_view type) { return type.ends_with("/calcChain"); }),
              row.expected);
  }
}

}  // namespace
}  // namespace qmv::xlsx
