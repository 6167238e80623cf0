#import "DBFilePanels.h"

// What both panels add to GNUstep's: they keep the message they were given (GNUstep's `message`
// answers nil) and show it (GNUstep's panel shows it nowhere), and own their accessory view
// (GNUstep's panel does not retain it).
//
// The message goes where macOS shows it, inside the panel above the file browser: in a field of
// its own where GNUstep's panel has its title field, beside the icon, which it hides meanwhile.
// The title field itself is not used: GNUstep's panel answers `title` with its text, and the window
// title is to stay the platform's.
static NSTextField *DBShowPanelMessage(NSTextField *titleField, NSTextField *messageField, NSString *message) {
  NSView *content = [titleField superview];
  if (content == nil) return messageField;
  BOOL shown = [message length] > 0;
  [titleField setHidden:shown];
  if (!shown) {
    [messageField removeFromSuperview];
    return messageField;
  }
  if (messageField == nil) {
    messageField = [[NSTextField alloc] initWithFrame:[titleField frame]];
    [messageField setEditable:NO];
    [messageField setSelectable:NO];
    [messageField setBordered:NO];
    [messageField setBezeled:NO];
    [messageField setDrawsBackground:NO];
    [messageField setAutoresizingMask:[titleField autoresizingMask]];
    [[messageField cell] setWraps:YES];
  }
  // Three lines beside the icon hold a few hundred characters at most: only so much is laid out,
  // so that a message of megabytes costs no more to show than one that fills the field.
  const NSUInteger kShownCharacters = 1024;
  if ([message length] > kShownCharacters)
    message = [message substringWithRange:[message rangeOfComposedCharacterSequencesForRange:NSMakeRange(0, kShownCharacters)]];
  [messageField setStringValue:message];
  // Up to the panel's right margin, on as many lines as fit beside the icon (48 points), centred
  // where the title field stands.
  NSRect frame = [titleField frame];
  CGFloat middle = NSMidY(frame);
  frame.size.width = MAX(NSMaxX([content bounds]) - NSMinX(frame) - 8, 1);
  NSSize line = [[messageField cell] cellSize];  // the whole text on one line
  CGFloat lines = MAX(ceil(line.width / NSWidth(frame)), 1);
  frame.size.height = MIN(line.height * lines, 48);
  frame.origin.y = middle - NSHeight(frame) / 2;
  [messageField setFrame:frame];
  if ([messageField superview] != content) [content addSubview:messageField];
  [content setNeedsDisplay:YES];
  return messageField;
}

#define DB_PANEL_KEEPS_MESSAGE_AND_ACCESSORY                                         \
  -(void)dealloc {                                                                   \
    [_retainedMessage release];                                                      \
    [_retainedAccessoryView release];                                                \
    [_messageField release];                                                         \
    [super dealloc];                                                                 \
  }                                                                                  \
  -(void)setMessage : (NSString *)message {                                          \
    NSString *copy = [message copy];                                                 \
    [_retainedMessage release];                                                      \
    _retainedMessage = copy;                                                         \
    [super setMessage:message];                                                      \
    _messageField = DBShowPanelMessage(_titleField, _messageField, _retainedMessage); \
  }                                                                                  \
  -(NSString *)message {                                                             \
    return _retainedMessage;                                                         \
  }                                                                                  \
  -(void)setAccessoryView : (NSView *)view {                                         \
    [view retain];                                                                   \
    [super setAccessoryView:view];                                                   \
    [_retainedAccessoryView release];                                                \
    _retainedAccessoryView = view;                                                   \
  }

#pragma mark - Open panel

@implementation DBOpenPanel

DB_PANEL_KEEPS_MESSAGE_AND_ACCESSORY

@end

#pragma mark - Save panel

@implementation DBSavePanel

DB_PANEL_KEEPS_MESSAGE_AND_ACCESSORY

// The plain runModal starts with an empty name field; starting it with the current directory and
// name keeps what the caller put there.
- (NSInteger)runModal {
  return [self runModalForDirectory:[[self directoryURL] path] file:[self nameFieldStringValue]];
}

@end

#pragma mark - Factories

// These replace the shared-panel factories of the platform's classes.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"

@implementation NSOpenPanel (DBFreshPanel)
+ (NSOpenPanel *)openPanel {
  return [[[DBOpenPanel alloc] init] autorelease];
}
@end

@implementation NSSavePanel (DBFreshPanel)
+ (NSSavePanel *)savePanel {
  return [[[DBSavePanel alloc] init] autorelease];
}
@end

#pragma clang diagnostic pop
