// Filter parsing, the file-type pop-up's actions and the panels the dialog prepares, inspected
// before they run.
#import "Dovrane.h"
#include <gtest/gtest.h>
#include "LogCapture.h"
#include "PanelDriver.h"

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Parsed {
  Strings titles;
  std::vector<Strings> lists;
  std::vector<std::string> log;
};

Parsed Parse(NSString *filters) {
  Parsed parsed;
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSMutableArray *titles = [NSMutableArray array];
    NSMutableArray *lists = [NSMutableArray array];
    LogCapture capture;
    [dialog parseFilter:filters filters:titles extensions:lists];
    parsed.log = capture.stop();
    parsed.titles = ToStrings(titles);
    for (NSArray *list in lists) parsed.lists.push_back(ToStrings(list));
  }
  return parsed;
}

// The reason the platform gives when an entry has no extension list.
std::string MissingPieceReason() {
  @try {
    [[@"Broken" componentsSeparatedByString:@";"] objectAtIndex:1];
  } @catch (NSException *exception) {
    return ToString([exception reason]);
  }
  return "";
}

void Pick(NSSavePanel *panel, int item) {
  NSPopUpButton *popUp = AccessoryPopUp(panel);
  [popUp selectItemAtIndex:item];
  [popUp sendAction:[popUp action] to:[popUp target]];
}

// Replaces a class method for the lifetime of the object.
class ClassMethodPatch {
 public:
  ClassMethodPatch(Class cls, SEL selector, IMP replacement) {
    method_ = class_getClassMethod(cls, selector);
    original_ = method_setImplementation(method_, replacement);
  }
  ~ClassMethodPatch() { method_setImplementation(method_, original_); }

 private:
  Method method_;
  IMP original_;
};

// The accessory shows the label's whole text and every pop-up title whole beside the pop-up's
// arrow, the two side by side inside the container, neither narrower than it used to be (the
// label labelMinimum, the pop-up 140 points) and at the heights and offsets they always had.
void ExpectAccessoryFitsItsText(NSView *container, CGFloat labelMinimum) {
  NSTextField *label = [[container subviews] objectAtIndex:0];
  NSPopUpButton *popUp = [[container subviews] objectAtIndex:1];
  NSRect labelFrame = [label frame], popUpFrame = [popUp frame];
  EXPECT_TRUE(NSEqualPoints(labelFrame.origin, NSZeroPoint) && labelFrame.size.height == 22);
  EXPECT_TRUE(popUpFrame.origin.y == 2 && popUpFrame.size.height == 22);
  EXPECT_GE(labelFrame.size.width, labelMinimum);
  EXPECT_GE(popUpFrame.size.width, 140);
  EXPECT_LT(NSMaxX(labelFrame), NSMinX(popUpFrame)) << "the label runs under the pop-up";
  EXPECT_LE(NSMaxX(popUpFrame), NSWidth([container frame])) << "the pop-up sticks out of the container";
  EXPECT_EQ(NSHeight([container frame]), 24);
  // What the cells need to draw their text whole: the label's cell, and the pop-up's cell with
  // each item showing, which makes room for the arrow too.
  EXPECT_GE(labelFrame.size.width, [[label cell] cellSize].width) << ToString([label stringValue]);
  NSInteger selected = [popUp indexOfSelectedItem];
  for (NSInteger i = 0; i < [popUp numberOfItems]; i++) {
    [popUp selectItemAtIndex:i];
    NSString *title = [popUp titleOfSelectedItem];
    EXPECT_GE(popUpFrame.size.width, [[popUp cell] cellSize].width) << ToString(title);
  }
  [popUp selectItemAtIndex:selected];
}

#if defined(GNUSTEP)
// Whether a visible text field in view, or below it, shows text.
bool ShowsText(NSView *view, NSString *text) {
  if ([view isHidden]) return false;
  if ([view isKindOfClass:[NSTextField class]] && [[(NSTextField *)view stringValue] isEqualToString:text]) return true;
  for (NSView *subview in [view subviews]) {
    if (ShowsText(subview, text)) return true;
  }
  return false;
}
#endif

id RaisingFactory(id self, SEL _cmd) {
  [NSException raise:NSInternalInconsistencyException format:@"no panel today"];
  return nil;
}

}  // namespace

TEST(FilterParsing, EntriesBecomeTitlesAndExtensionListsExactlyAsWritten) {
  Parsed empty = Parse(@"");
  EXPECT_TRUE(empty.titles.empty());
  EXPECT_TRUE(empty.lists.empty());
  EXPECT_TRUE(empty.log.empty());

  Parsed images = Parse(@"Images;png,jpg|Text;txt,md|All files;*");
  EXPECT_EQ(images.titles, (Strings{"Images (*.png,*.jpg)", "Text (*.txt,*.md)", "All files (*.*)"}));
  EXPECT_EQ(images.lists, (std::vector<Strings>{{"png", "jpg"}, {"txt", "md"}, {"*"}}));
  EXPECT_TRUE(images.log.empty());

  // Empty extension list, kept blanks, a third piece ignored, case and dots untouched.
  Parsed odd = Parse(@"Name;|Images;png, jpg|A;b;c|Raw;.RAW,,x");
  EXPECT_EQ(odd.titles, (Strings{"Name (*.)", "Images (*.png,*. jpg)", "A (*.b)", "Raw (*..RAW,*.,*.x)"}));
  EXPECT_EQ(odd.lists, (std::vector<Strings>{{""}, {"png", " jpg"}, {"b"}, {".RAW", "", "x"}}));
  EXPECT_TRUE(odd.log.empty());
}

TEST(FilterParsing, AMalformedEntryStopsParsingWithOneLogLineAndKeepsWhatCameBefore) {
  const std::string line = "Dovrane::parseFilter Exception" + MissingPieceReason();

  Parsed broken = Parse(@"Images;png|Broken|Text;txt");
  EXPECT_EQ(broken.titles, (Strings{"Images (*.png)"}));
  EXPECT_EQ(broken.lists, (std::vector<Strings>{{"png"}}));
  EXPECT_EQ(broken.log, (Strings{line}));

  Parsed trailing = Parse(@"Images;png|");
  EXPECT_EQ(trailing.titles, (Strings{"Images (*.png)"}));
  EXPECT_EQ(trailing.log.size(), 1u);

  Parsed leading = Parse(@"|Images;png");
  EXPECT_TRUE(leading.titles.empty());
  EXPECT_TRUE(leading.lists.empty());
  EXPECT_EQ(leading.log.size(), 1u);
}

TEST(FilterParsing, AppendsToWhatTheListsAlreadyHold) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSMutableArray *titles = [NSMutableArray arrayWithObject:@"kept"];
    NSMutableArray *lists = [NSMutableArray arrayWithObject:[NSArray arrayWithObject:@"k"]];
    [dialog parseFilter:@"Text;txt" filters:titles extensions:lists];
    EXPECT_EQ(ToStrings(titles), (Strings{"kept", "Text (*.txt)"}));
    EXPECT_EQ([lists count], 2u);
  }
}

TEST(OpenPanelPreparation, FiltersGiveTheFileTypeAccessoryAndTheFirstEntrysTypes) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSOpenPanel *panel = [dialog createOpenPanel:@"Pick a picture" directory:@"/tmp"
                                         filters:@"Images;png,jpg|All files;*" multiselect:YES canChooseFiles:YES
                                canChooseFolders:NO];
    ASSERT_NE(panel, nil);
    NSView *container = [panel accessoryView];
    ASSERT_NE(container, nil);
    EXPECT_GE(NSWidth([container frame]), 200);
    NSArray *subviews = [container subviews];
    ASSERT_EQ([subviews count], 2u);
    NSTextField *label = [subviews objectAtIndex:0];
    NSPopUpButton *popUp = [subviews objectAtIndex:1];
    ASSERT_TRUE([label isKindOfClass:[NSTextField class]]);
    ASSERT_TRUE([popUp isKindOfClass:[NSPopUpButton class]]);
    EXPECT_EQ(ToString([label stringValue]), "File type:");
    EXPECT_FALSE([label isEditable]);
    EXPECT_FALSE([label isBordered]);
    EXPECT_FALSE([label isBezeled]);
    EXPECT_FALSE([label drawsBackground]);
    EXPECT_FALSE([popUp pullsDown]);
    EXPECT_EQ(ToStrings([popUp itemTitles]), (Strings{"Images (*.png,*.jpg)", "All files (*.*)"}));
    ExpectAccessoryFitsItsText(container, 60);
    EXPECT_EQ([popUp indexOfSelectedItem], 0);
    EXPECT_TRUE([[popUp target] isKindOfClass:[PopUpButtonHandler class]]);
    EXPECT_EQ([(PopUpButtonHandler *)[popUp target] panel], panel);
    EXPECT_TRUE(sel_isEqual([popUp action], @selector(selectFormatOpen:)));
    EXPECT_EQ(AllowedTypes(panel), (Strings{"png", "jpg"}));
    EXPECT_EQ(ToString([panel message]), "Pick a picture");
    EXPECT_EQ(ToString([panel title]), ToString([[NSOpenPanel openPanel] title]));
    EXPECT_TRUE([panel canChooseFiles]);
    EXPECT_FALSE([panel canChooseDirectories]);
    EXPECT_TRUE([panel allowsMultipleSelection]);
    EXPECT_TRUE([panel canCreateDirectories]);
    EXPECT_EQ(StartDirectory(panel), "/tmp");
  }
}

TEST(OpenPanelPreparation, NoFiltersNoAccessoryAndAnEmptyTitleLeavesTheMessage) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSOpenPanel *panel = [dialog createOpenPanel:@"" directory:@"" filters:@"" multiselect:NO canChooseFiles:NO
                                canChooseFolders:YES];
    ASSERT_NE(panel, nil);
    EXPECT_EQ([panel accessoryView], nil);
    EXPECT_EQ([panel allowedFileTypes], nil);
    EXPECT_EQ([[panel message] length], 0u);
    EXPECT_FALSE([panel canChooseFiles]);
    EXPECT_TRUE([panel canChooseDirectories]);
    EXPECT_FALSE([panel allowsMultipleSelection]);

    // Only malformed entries: the dialog still comes up, without an accessory.
    LogCapture capture;
    panel = [dialog createOpenPanel:@"" directory:@"/tmp" filters:@"Broken" multiselect:NO canChooseFiles:YES
                   canChooseFolders:NO];
    EXPECT_EQ(capture.stop().size(), 1u);
    ASSERT_NE(panel, nil);
    EXPECT_EQ([panel accessoryView], nil);
    EXPECT_EQ([panel allowedFileTypes], nil);
  }
}

TEST(InitialAllowedTypes, AnAnyTypeFirstEntryStartsUnrestrictedOtherwiseTheWholeFirstList) {
  @autoreleasepool {
    struct Case {
      NSString *filters;
      Strings open, save;
    } cases[] = {
        {@"All files;*|Images;png", {"(all)"}, {"(all)"}},
        {@"Name;|Text;txt", {"(all)"}, {"(all)"}},
        {@"Images;png,jpg|All files;*", {"png", "jpg"}, {"png", "jpg"}},
        {@"JPEG image;jpg,jpeg", {"jpg", "jpeg"}, {"jpg", "jpeg"}},
        {@"Mixed;png,*", {"png", "*"}, {"png", "*"}},
    };
    for (const Case &c : cases) {
      Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
      NSOpenPanel *open = [dialog createOpenPanel:@"" directory:@"/tmp" filters:c.filters multiselect:NO
                                   canChooseFiles:YES canChooseFolders:NO];
      EXPECT_EQ(AllowedTypes(open), c.open) << ToString(c.filters);
      Dovrane *saver = [[[Dovrane alloc] init] autorelease];
      NSSavePanel *save = [saver createSavePanel:@"" directory:@"/tmp" defaultName:@"x" filters:c.filters];
      EXPECT_EQ(AllowedTypes(save), c.save) << ToString(c.filters);
      EXPECT_EQ([AccessoryPopUp(save) indexOfSelectedItem], 0);
    }
  }
}

TEST(OpenPanelPicks, AnyTypeEntriesClearTheTypesOthersAllowTheirWholeList) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSOpenPanel *panel = [dialog createOpenPanel:@"" directory:@"/tmp"
                                         filters:@"All files;*|Images;png|Mixed;png,*|Name;|Docs;txt,md"
                                     multiselect:NO canChooseFiles:YES canChooseFolders:NO];
    Pick(panel, 1);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"png"}));
    Pick(panel, 0);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"(all)"}));
    Pick(panel, 2);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"png", "*"}));
    Pick(panel, 3);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"(all)"}));
    Pick(panel, 4);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"txt", "md"}));
  }
}

TEST(OpenPanelPicks, EqualTitlesKeepOneItemPerEntry) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSOpenPanel *panel = [dialog createOpenPanel:@"" directory:@"/tmp" filters:@"A;png|A;png|B;jpg|A;png"
                                     multiselect:NO canChooseFiles:YES canChooseFolders:NO];
    NSPopUpButton *popUp = AccessoryPopUp(panel);
    EXPECT_EQ(ToStrings([popUp itemTitles]), (Strings{"A (*.png)", "A (*.png)", "B (*.jpg)", "A (*.png)"}));
    Pick(panel, 2);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"jpg"}));
    Pick(panel, 3);
    EXPECT_EQ(AllowedTypes(panel), (Strings{"png"}));
  }
}

TEST(SavePanelPreparation, FiltersGiveTheSaveAsTypeAccessoryAndTheNameStaysAsGiven) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    NSSavePanel *panel = [dialog createSavePanel:@"Export" directory:@"/tmp" defaultName:@"picture.txt"
                                         filters:@"PNG image;png|JPEG image;jpg,jpeg"];
    ASSERT_NE(panel, nil);
    NSView *container = [panel accessoryView];
    EXPECT_GE(NSWidth([container frame]), 220);
    NSArray *subviews = [container subviews];
    ASSERT_EQ([subviews count], 2u);
    NSTextField *label = [subviews objectAtIndex:0];
    NSPopUpButton *popUp = [subviews objectAtIndex:1];
    EXPECT_EQ(ToString([label stringValue]), "Save as type:");
    EXPECT_FALSE([label isEditable] || [label isBordered] || [label isBezeled] || [label drawsBackground]);
    EXPECT_FALSE([popUp pullsDown]);
    EXPECT_EQ(ToStrings([popUp itemTitles]), (Strings{"PNG image (*.png)", "JPEG image (*.jpg,*.jpeg)"}));
    ExpectAccessoryFitsItsText(container, 80);
    EXPECT_TRUE(sel_isEqual([popUp action], @selector(selectFormatSave:)));
    EXPECT_EQ(ToString([panel nameFieldStringValue]), "picture.txt");
    EXPECT_EQ(AllowedTypes(panel), (Strings{"png"}));
    EXPECT_EQ(ToString([panel message]), "Export");
#if defined(GNUSTEP)
    // macOS draws the message itself (its panel's views may live in another process); GNUstep's
    // panel shows it through the bundle's panel class.
    EXPECT_TRUE(ShowsText([panel contentView], @"Export")) << "the message is shown inside the panel";
#endif
    EXPECT_EQ(ToString([panel title]), ToString([[NSSavePanel savePanel] title]));

    Dovrane *bare = [[[Dovrane alloc] init] autorelease];
    panel = [bare createSavePanel:@"" directory:@"" defaultName:@"" filters:@""];
    EXPECT_EQ([panel accessoryView], nil);
    EXPECT_EQ([panel allowedFileTypes], nil);
    EXPECT_EQ([[panel message] length], 0u);
    EXPECT_EQ(ToString([panel nameFieldStringValue]), "");
  }
}

TEST(SavePanelPicks, ThePickedEntrysFirstExtensionReplacesTheLastExtensionOfTheName) {
  @autoreleasepool {
    struct Case {
      const char *name;
      int item;
      const char *renamed;
      Strings allowed;
    } cases[] = {
        {"report.txt", 0, "report.png", {"png"}},
        {"report.txt", 1, "report.jpg", {"jpg"}},
        {"report.txt", 2, "report", {"(all)"}},
        {"", 0, ".png", {"png"}},
        {"archive.tar.gz", 0, "archive.tar.png", {"png"}},
        {"notes", 3, "notes", {"(all)"}},
    };
    for (const Case &c : cases) {
      Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
      NSSavePanel *panel = [dialog createSavePanel:@"" directory:@"/tmp"
                                       defaultName:[NSString stringWithUTF8String:c.name]
                                           filters:@"Images;png,jpg|JPEG;jpg,jpeg|All files;*|Any;"];
      Pick(panel, c.item);
      EXPECT_EQ(ToString([panel nameFieldStringValue]), c.renamed) << c.name << " item " << c.item;
      EXPECT_EQ(AllowedTypes(panel), c.allowed) << c.name << " item " << c.item;
    }
  }
}

TEST(PanelPreparation, APreparationThatRaisesLogsOneLineAndGivesNoPanel) {
  @autoreleasepool {
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    {
      ClassMethodPatch patch([NSOpenPanel class], @selector(openPanel), (IMP)RaisingFactory);
      LogCapture capture;
      EXPECT_EQ([dialog createOpenPanel:@"t" directory:@"/tmp" filters:@"Images;png" multiselect:NO
                         canChooseFiles:YES canChooseFolders:NO],
                nil);
      EXPECT_EQ(capture.stop(), (Strings{"Dovrane::dialogOpenFilePanel Exception: no panel today"}));
      EXPECT_EQ(ToString([dialog dialogOpenFilePanel:@"t" directory:@"/tmp" filters:@"" multiselect:NO
                                      canChooseFiles:YES canChooseFolders:NO]),
                "");
    }
    {
      ClassMethodPatch patch([NSSavePanel class], @selector(savePanel), (IMP)RaisingFactory);
      LogCapture capture;
      EXPECT_EQ([dialog createSavePanel:@"t" directory:@"/tmp" defaultName:@"n" filters:@"Images;png"], nil);
      EXPECT_EQ(capture.stop(), (Strings{"Dovrane::dialogSaveFilePanel Exceptionno panel today"}));
    }
    // The platform's factories are back.
    EXPECT_NE([dialog createOpenPanel:@"" directory:@"/tmp" filters:@"" multiselect:NO canChooseFiles:YES
                     canChooseFolders:NO],
              nil);
  }
}

TEST(PanelPreparation, AnEmptyOrMissingDirectoryLeavesThePanelWhereItStarts) {
  @autoreleasepool {
    std::string own = ToString([[NSString stringWithUTF8String:MakeTemporaryDirectory({}).c_str()]
                                   stringByStandardizingPath]);
    PanelsStartIn panelsStartInOwn(own);
    Dovrane *dialog = [[[Dovrane alloc] init] autorelease];
    for (NSString *directory : {@"", (NSString *)nil, @"/tmp"}) {
      std::string expected = [directory length] == 0 ? own : "/tmp";
      NSOpenPanel *open = [dialog createOpenPanel:@"" directory:directory filters:@"" multiselect:NO
                                   canChooseFiles:NO canChooseFolders:YES];
      ASSERT_NE(open, nil) << ToString(directory);
      EXPECT_EQ(StartDirectory(open), expected) << ToString(directory);
      NSSavePanel *save = [dialog createSavePanel:@"" directory:directory defaultName:@"" filters:@""];
      ASSERT_NE(save, nil) << ToString(directory);
      EXPECT_EQ(StartDirectory(save), expected) << ToString(directory);
    }
  }
}

TEST(PanelPreparation, EachRequestGetsItsOwnPanelAndKeepsItsOwnAccessory) {
  @autoreleasepool {
    Dovrane *first = [[Dovrane alloc] init];
    Dovrane *second = [[Dovrane alloc] init];
    NSOpenPanel *a = [first createOpenPanel:@"" directory:@"/tmp" filters:@"A;a" multiselect:NO canChooseFiles:YES
                           canChooseFolders:NO];
    NSSavePanel *b = [second createSavePanel:@"" directory:@"/tmp" defaultName:@"" filters:@"B;b"];
    NSOpenPanel *c = [second createOpenPanel:@"" directory:@"/tmp" filters:@"C;c" multiselect:NO
                              canChooseFiles:YES canChooseFolders:NO];
    EXPECT_NE((id)a, (id)c);
    EXPECT_NE((id)a, (id)b);
    EXPECT_EQ(ToStrings([AccessoryPopUp(a) itemTitles]), (Strings{"A (*.a)"}));
    EXPECT_EQ(ToStrings([AccessoryPopUp(c) itemTitles]), (Strings{"C (*.c)"}));
    Pick(a, 0);
    EXPECT_EQ(AllowedTypes(a), (Strings{"a"}));
    [first release];
    [second release];
  }
}

TEST(PopUpButtonHandler, APanelGivenBySetterIsOwnedTheInitialOneIsNot) {
  @autoreleasepool {
    NSSavePanel *initial = [[NSSavePanel alloc] init];
    NSSavePanel *later = [[NSSavePanel alloc] init];
    NSUInteger initialCount = [initial retainCount], laterCount = [later retainCount];
    PopUpButtonHandler *handler = [[PopUpButtonHandler alloc] initWithPanel:initial];
    EXPECT_EQ([handler panel], initial);
    EXPECT_EQ([initial retainCount], initialCount);
    [handler setPanel:later];
    EXPECT_EQ([handler panel], later);
    EXPECT_EQ([later retainCount], laterCount + 1);
    EXPECT_EQ([initial retainCount], initialCount);
    [handler release];
    EXPECT_EQ([later retainCount], laterCount);
    EXPECT_EQ([initial retainCount], initialCount);
    [initial release];
    [later release];
  }
}
