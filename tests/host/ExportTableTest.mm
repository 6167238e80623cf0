// The bundle's dynamic symbol table holds exactly the exports listed in exports.txt.
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"

#include <stdio.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

struct ExportList {
  std::set<std::string> built;
  std::set<std::string> expectedMissing;
};

ExportList ReadExportList() {
  ExportList list;
  std::ifstream in(DB_SOURCE_DIR "/exports.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string symbol, mark;
    words >> symbol >> mark;
    if (mark == "expected-missing") list.expectedMissing.insert(symbol);
    else list.built.insert(symbol);
  }
  return list;
}

std::set<std::string> DefinedDynamicSymbols(const std::string &binary) {
  std::set<std::string> symbols;
  std::string command = "nm -D --defined-only '" + binary + "'";
  FILE *pipe = popen(command.c_str(), "r");
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) {
    std::istringstream words(buffer);
    std::string address, type, name;
    if (words >> address >> type >> name) symbols.insert(name);
  }
  if (pipe) pclose(pipe);
  return symbols;
}

}  // namespace

TEST(ExportTable, BinaryExportsExactlyTheListedSymbols) {
  ExportList list = ReadExportList();
  ASSERT_FALSE(list.built.empty());
  std::set<std::string> defined = DefinedDynamicSymbols(BundleBinaryPath());
  ASSERT_FALSE(defined.empty()) << "nm found no symbols in " << BundleBinaryPath();

  for (const std::string &symbol : list.built) EXPECT_TRUE(defined.count(symbol)) << "missing export " << symbol;
  for (const std::string &symbol : list.expectedMissing)
    EXPECT_FALSE(defined.count(symbol)) << symbol << " is built now: drop its expected-missing mark";
  for (const std::string &symbol : defined)
    EXPECT_TRUE(list.built.count(symbol)) << "unlisted exported symbol " << symbol;
}

TEST(ExportTable, ExportsResolveThroughDlsym) {
  for (const std::string &symbol : ReadExportList().built)
    EXPECT_NE(BundleSymbol(symbol.c_str()), nullptr) << symbol;
}
