// Reading a package's parts: deflated and stored entries come back byte for byte, however
// many pieces they inflate in, and damage is reported rather than read as content.
#include <gtest/gtest.h>

#include "tests/tools/xlsx/xlsx_fixture.hpp"
#include "tools/xlsx/package.hpp"

namespace qmv::xlsx::testing {
namespace {

TEST(PackageRead, GivesEachPartAsStoredOrReportsTheDamage) {
  struct Row {
    const char* name;
    std::string content;
    bool stored;
    std::string damage;   ///< a Python expression over the zip's bytes `b`, or none
    std::string message;  ///< expected in the error, or none for a clean read
  };
  std::string repetitive;
  for (int i = 0; i < 200000; ++i) repetitive += "<row r=\"" + std::to_string(i) + "\"/>";
  std::string mixed;
  for (unsigned i = 0; i < 300000; ++i) mixed += static_cast<char>((i * 2654435761u) >> 24);
  const std::vector<Row> rows = {
      {"a deflated part inflating in many pieces", repetitive, false, "", ""},
      {"a deflated part that barely compresses", mixed, false, "", ""},
      {"a stored part", "<sheet>stored as it is</sheet>", true, "", ""},
      {"an empty deflated part", "", false, "", ""},
      {"a stored part with a changed byte", "<v>12345</v>", true,
       "b.replace(b'<v>12345', b'<v>12346', 1)", "CRC error"},
      {"a deflated part whose checksum is wrong", repetitive, false,
       "b.replace(struct.pack('<I', zlib.crc32(data)), struct.pack('<I', zlib.crc32(data) ^ 1))",
       "CRC error"},
      {"a deflated part with zeros over its data", repetitive, false,
       "b[:60] + bytes(40) + b[100:]", "part xl/part.xml"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    folder.write("content.bin", row.content);
    const std::string zip = folder.file("test.zip");
    std::string code =
        "import struct, sys, zipfile, zlib\n"
        "with open(sys.argv[1], 'rb') as f: data = f.read()\n"
        "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.";
    code += row.stored ? "ZIP_STORED" : "ZIP_DEFLATED";
    code += ") as z:\n    z.writestr('xl/part.xml', data)\n";
    if (!row.damage.empty()) {
      code += "b = open(sys.argv[2], 'rb').read()\nopen(sys.argv[2], 'wb').write(";
      code += row.damage;
      code += ")\n";
    }
    std::string command = python();
    for (const std::string& argument :
         {folder.write("make.py", code), folder.file("content.bin"), zip}) {
      command += ' ';
      command += argument;
    }
    run(command);
    const auto package = Package::open(zip);
    const PartEntry* part = package->find("xl/part.xml");
    ASSERT_NE(part, nullptr);
    if (row.message.empty()) {
      std::size_t pieces = 0;
      std::string read;
      package->read(*part, [&](std::string_view chunk) {
        ++pieces;
        read.append(chunk);
      });
      EXPECT_EQ(read, row.content);
      EXPECT_EQ(package->readAll(*part), row.content);
      if (row.content.size() > 1000000) {
        EXPECT_GT(pieces, 4u);
      }
    } else {
      try {
        package->readAll(*part);
        ADD_FAILURE() << "no error";
      } catch (const XlsxError& e) {
        EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
