// Host text is split character by character: a separator followed by a combining mark still
// separates, as on macOS (GNUstep's own splitting keeps such a separator inside a composed
// character and misses it).
#import "Dovrane.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include <string>
#include <vector>

namespace {

std::vector<std::string> Strings(NSArray *array) {
  std::vector<std::string> result;
  for (NSString *s in array) result.push_back([s UTF8String]);
  return result;
}

NSString *Utf8(const char *text) { return [NSString stringWithUTF8String:text]; }

}  // namespace

TEST(LiteralSplitting, EverySeparatorCountsWhateverFollowsIt) {
  EXPECT_EQ(Strings(DBComponentsSeparatedByString(Utf8("a;\xcc\x81" "b;c"), @";")),
            (std::vector<std::string>{"a", "\xcc\x81" "b", "c"}));
  EXPECT_EQ(Strings(DBComponentsSeparatedByString(@"", @";")), (std::vector<std::string>{""}));
  EXPECT_EQ(Strings(DBComponentsSeparatedByString(@";;", @";")), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(Strings(DBComponentsSeparatedByString(@"abc", @";")), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(DBComponentsSeparatedByString(nil, @";"), nil);
}

TEST(LiteralSplitting, FilterEntriesBeginningWithCombiningMarksAreKept) {
  Dovrane *dialog = [[Dovrane alloc] init];
  NSMutableArray *titles = [NSMutableArray array];
  NSMutableArray *extensions = [NSMutableArray array];
  // Each of the three separators is followed by U+0301.
  [dialog parseFilter:Utf8("A;\xcc\x81x,\xcc\x81y|\xcc\x81" "B;z") filters:titles extensions:extensions];
  [dialog release];
  EXPECT_EQ(Strings(titles), (std::vector<std::string>{"A (*.\xcc\x81x,*.\xcc\x81y)", "\xcc\x81" "B (*.z)"}));
  ASSERT_EQ([extensions count], 2u);
  EXPECT_EQ(Strings([extensions objectAtIndex:0]), (std::vector<std::string>{"\xcc\x81x", "\xcc\x81y"}));
  EXPECT_EQ(Strings([extensions objectAtIndex:1]), (std::vector<std::string>{"z"}));
}
