// Edits of the small parts that name other parts or cells: the calculation chain, the
// relationships and the content types. Each edit takes elements out (or adds an attribute
// to one) and leaves every other byte of the part as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host/address.hpp"

namespace qmv::xlsx {

/// Whether the chain entry for the cell `ref` of the sheet with id `sheetId` goes.
using ChainFilter = std::function<bool(uint32_t sheetId, CellRef ref)>;

/// The calculation chain `xml` without the entries `gone` picks; `document` names the part
/// in errors. The entries after a removed one keep the sheet and the dependency level it
/// gave them. No value when no entry remains (a chain holds at least one). Throws
/// XlsxError for malformed XML.
std::optional<std::string> calcChainWithout(const std::string& xml, const std::string& document,
                                            const ChainFilter& gone);

/// `xml` without the children of its root element called `name` whose attribute
/// `attribute` satisfies `drop` (an element without the attribute stays). Throws XlsxError
/// for malformed XML.
std::string withoutChildren(const std::string& xml, const std::string& document,
                            std::string_view name, std::string_view attribute,
                            const std::function<bool(std::string_view value)>& drop);

}  // namespace qmv::xlsx
