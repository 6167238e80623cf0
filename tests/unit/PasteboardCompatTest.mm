// The pasteboard stand-ins against real pasteboards: how many items a pasteboard's contents make,
// which URL a file drag yields, and the path bytes that URL gives.
#include <gtest/gtest.h>
#import "DBPlatform.h"

#include <string.h>

namespace {

class PasteboardCompatTest : public ::testing::Test {
 protected:
  void SetUp() override { pasteboard_ = [[NSPasteboard pasteboardWithUniqueName] retain]; }
  void TearDown() override {
    [pasteboard_ releaseGlobally];
    [pasteboard_ release];
  }
  void putFilenames(id list) {
    [pasteboard_ declareTypes:[NSArray arrayWithObject:NSFilenamesPboardType] owner:nil];
    [pasteboard_ setPropertyList:list forType:NSFilenamesPboardType];
  }
  NSPasteboard *pasteboard_ = nil;
};

TEST_F(PasteboardCompatTest, EachFileNameIsOneItemCarryingItsFileURL) {
  putFilenames([NSArray arrayWithObjects:@"/tmp/a b.mp3", @"/tmp/c.mp3", nil]);
  NSArray *items = [pasteboard_ pasteboardItems];
  ASSERT_EQ(2u, [items count]);
  EXPECT_STREQ("file:///tmp/a%20b.mp3", [[[items objectAtIndex:0] stringForType:NSURLPboardType] UTF8String]);
  EXPECT_STREQ("file:///tmp/c.mp3", [[[items objectAtIndex:1] stringForType:NSURLPboardType] UTF8String]);
  EXPECT_TRUE([[[items objectAtIndex:0] types] containsObject:NSURLPboardType]);
}

TEST_F(PasteboardCompatTest, OtherContentsAreOneItemReadFromThePasteboardAndNothingIsNoItem) {
  EXPECT_EQ(0u, [[pasteboard_ pasteboardItems] count]);
  [pasteboard_ declareTypes:[NSArray arrayWithObject:NSStringPboardType] owner:nil];
  [pasteboard_ setString:@"words" forType:NSStringPboardType];
  NSArray *items = [pasteboard_ pasteboardItems];
  ASSERT_EQ(1u, [items count]);
  EXPECT_STREQ("words", [[[items objectAtIndex:0] stringForType:NSStringPboardType] UTF8String]);
  EXPECT_EQ(nil, [[items objectAtIndex:0] stringForType:NSFilenamesPboardType]);
  // An empty file-names list is no file: the pasteboard still holds one item.
  putFilenames([NSArray array]);
  EXPECT_EQ(1u, [[pasteboard_ pasteboardItems] count]);
}

TEST_F(PasteboardCompatTest, DataSetOnAnItemStaysWithTheItem) {
  [pasteboard_ declareTypes:[NSArray arrayWithObject:NSStringPboardType] owner:nil];
  [pasteboard_ setString:@"words" forType:NSStringPboardType];
  NSPasteboardItem *item = [[pasteboard_ pasteboardItems] objectAtIndex:0];
  EXPECT_TRUE([item setString:@"other" forType:NSStringPboardType]);
  EXPECT_STREQ("other", [[item stringForType:NSStringPboardType] UTF8String]);
  EXPECT_STREQ("words", [[pasteboard_ stringForType:NSStringPboardType] UTF8String]);
  NSArray *wanted = [NSArray arrayWithObjects:@"x", NSStringPboardType, nil];
  EXPECT_EQ(NSStringPboardType, [item availableTypeFromArray:wanted]);
}

TEST_F(PasteboardCompatTest, URLFromPasteboardPrefersAWrittenURLThenTheFirstFileName) {
  EXPECT_EQ(nil, [NSURL URLFromPasteboard:pasteboard_]);
  putFilenames([NSArray arrayWithObjects:@"/tmp/first.mp3", @"/tmp/second.mp3", nil]);
  EXPECT_STREQ("/tmp/first.mp3", [[[NSURL URLFromPasteboard:pasteboard_] path] UTF8String]);

  [pasteboard_ declareTypes:[NSArray arrayWithObject:NSURLPboardType] owner:nil];
  [[NSURL URLWithString:@"http://example.invalid/x"] writeToPasteboard:pasteboard_];
  EXPECT_STREQ("http://example.invalid/x", [[[NSURL URLFromPasteboard:pasteboard_] absoluteString] UTF8String]);

  // A list that another process filled with something else gives no URL.
  putFilenames([NSArray arrayWithObject:[NSNumber numberWithInt:3]]);
  EXPECT_EQ(nil, [NSURL URLFromPasteboard:pasteboard_]);
  EXPECT_EQ(0u, [[pasteboard_ pasteboardItems] count]);
}

// As on macOS, the URL's path keeps a name as it was given: a precomposed "é" (U+00E9) stays C3 A9
// and a decomposed one (e + U+0301) stays 65 CC 81.
TEST_F(PasteboardCompatTest, TheFileURLsPathKeepsTheNamesBytes) {
  for (NSString *name in [NSArray arrayWithObjects:@"/tmp/dir with space/\u00e9t\u00e9.mp3", @"/tmp/e\u0301t.mp3", nil]) {
    putFilenames([NSArray arrayWithObject:name]);
    EXPECT_STREQ([name UTF8String], [[[NSURL URLFromPasteboard:pasteboard_] path] UTF8String]);
  }
  EXPECT_STREQ("/tmp/\xc3\xa9t\xc3\xa9.mp3", [[[NSURL fileURLWithPath:@"/tmp/\u00e9t\u00e9.mp3"] path] UTF8String]);
}

}  // namespace
