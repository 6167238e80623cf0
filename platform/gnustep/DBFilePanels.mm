#import "DBFilePanels.h"

// What both panels add to GNUstep's: they keep the message they were given (GNUstep's `message`
// answers nil) and own their accessory view (GNUstep's panel does not retain it).
#define DB_PANEL_KEEPS_MESSAGE_AND_ACCESSORY                      \
  -(void)dealloc {                                                \
    [_retainedMessage release];                                   \
    [_retainedAccessoryView release];                             \
    [super dealloc];                                              \
  }                                                               \
  -(void)setMessage : (NSString *)message {                       \
    NSString *copy = [message copy];                              \
    [_retainedMessage release];                                   \
    _retainedMessage = copy;                                      \
    [super setMessage:message];                                   \
  }                                                               \
  -(NSString *)message {                                          \
    return _retainedMessage;                                      \
  }                                                               \
  -(void)setAccessoryView : (NSView *)view {                      \
    [view retain];                                                \
    [super setAccessoryView:view];                                \
    [_retainedAccessoryView release];                             \
    _retainedAccessoryView = view;                                \
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
