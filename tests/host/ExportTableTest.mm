// The bundle's dynamic symbol table holds exactly the exports listed in exports.txt, and the
// header's types and the loader's struct cover exactly that list.
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridgeLoader.h"

#include <stdio.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

// Each loader member has the DBFn_ (or DBVar_) type of the export's own declaration.
#define DB_CHECK_EXPORT_TYPE(type, member, symbol) \
  static_assert(std::is_same<type, decltype(&::member)>::value, #type " does not match the declaration of " #member);
DB_LOADER_EXPORTS(DB_CHECK_EXPORT_TYPE)
#undef DB_CHECK_EXPORT_TYPE

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

// The command that lists a binary's exported, defined symbols, one "address type name" line each,
// and the prefix the object format puts before a C name: ELF's dynamic symbol table as it is;
// Mach-O's external symbols, whose C names begin with an underscore.
struct SymbolListing {
  std::string command;
  std::string prefix;
};

SymbolListing ExportedSymbolsCommand(const std::string &binary) {
#if defined(__APPLE__)
  return {"nm -gU '" + binary + "'", "_"};
#else
  return {"nm -D --defined-only '" + binary + "'", ""};
#endif
}

std::set<std::string> DefinedDynamicSymbols(const std::string &binary) {
  std::set<std::string> symbols;
  SymbolListing listing = ExportedSymbolsCommand(binary);
  FILE *pipe = popen(listing.command.c_str(), "r");
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) {
    std::istringstream words(buffer);
    std::string address, type, name;
    // A universal binary's listing has a heading per architecture: symbol lines start with an address.
    if (!(words >> address >> type >> name) || address.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      continue;
    // A name without the prefix is no C symbol of ours: kept whole, so that it shows as unlisted.
    if (name.compare(0, listing.prefix.size(), listing.prefix) == 0) name.erase(0, listing.prefix.size());
    symbols.insert(name);
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

TEST(ExportTable, LoaderResolvesExactlyTheListedSymbols) {
  ExportList list = ReadExportList();
  std::vector<std::string> loaderSymbols;
#define DB_LIST_SYMBOL(type, member, symbol) loaderSymbols.push_back(symbol);
  DB_LOADER_EXPORTS(DB_LIST_SYMBOL)
#undef DB_LIST_SYMBOL
  std::set<std::string> loaderSet(loaderSymbols.begin(), loaderSymbols.end());
  EXPECT_EQ(loaderSet.size(), loaderSymbols.size()) << "DB_LOADER_EXPORTS names a symbol twice";
  for (const std::string &symbol : list.built) EXPECT_TRUE(loaderSet.count(symbol)) << "the loader lacks " << symbol;
  for (const std::string &symbol : list.expectedMissing)
    EXPECT_FALSE(loaderSet.count(symbol)) << "the loader would fail on the unbuilt " << symbol;
  for (const std::string &symbol : loaderSet)
    EXPECT_TRUE(list.built.count(symbol)) << "the loader needs unlisted " << symbol;
  // One member per entry: the struct holds nothing else but the handle.
  EXPECT_EQ(sizeof(DBExports), sizeof(void *) * (1 + loaderSymbols.size()));
}
