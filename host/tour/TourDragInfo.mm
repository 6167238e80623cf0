#include "TourDragInfo.h"

@implementation TourDragInfo

- (id)initWithPasteboard:(NSPasteboard *)pasteboard at:(NSPoint)location inWindow:(NSWindow *)window {
  if ((self = [super init])) {
    _pasteboard = [pasteboard retain];
    _location = location;
    _window = [window retain];
  }
  return self;
}

+ (TourDragInfo *)dragOfFiles:(NSArray *)paths at:(NSPoint)location inWindow:(NSWindow *)window {
  NSPasteboard *pasteboard = [NSPasteboard pasteboardWithUniqueName];
  if ([paths count] == 1) {
    // A single file also travels as a URL, as a file manager's drag carries it.
    [pasteboard declareTypes:[NSArray arrayWithObjects:NSFilenamesPboardType, NSURLPboardType, nil] owner:nil];
    [[NSURL fileURLWithPath:[paths objectAtIndex:0]] writeToPasteboard:pasteboard];
  } else {
    [pasteboard declareTypes:[NSArray arrayWithObject:NSFilenamesPboardType] owner:nil];
  }
  [pasteboard setPropertyList:paths forType:NSFilenamesPboardType];
  return [[[self alloc] initWithPasteboard:pasteboard at:location inWindow:window] autorelease];
}

+ (TourDragInfo *)dragOfText:(NSString *)text at:(NSPoint)location inWindow:(NSWindow *)window {
  NSPasteboard *pasteboard = [NSPasteboard pasteboardWithUniqueName];
  [pasteboard declareTypes:[NSArray arrayWithObject:NSStringPboardType] owner:nil];
  [pasteboard setString:text forType:NSStringPboardType];
  return [[[self alloc] initWithPasteboard:pasteboard at:location inWindow:window] autorelease];
}

- (void)finish {
  [_pasteboard releaseGlobally];
}

- (void)dealloc {
  [_pasteboard release];
  [_window release];
  [super dealloc];
}

- (NSWindow *)draggingDestinationWindow { return _window; }
- (NSPoint)draggingLocation { return _location; }
- (NSPasteboard *)draggingPasteboard { return _pasteboard; }
- (NSInteger)draggingSequenceNumber { return 1; }
- (id)draggingSource { return nil; }
- (NSDragOperation)draggingSourceOperationMask { return NSDragOperationCopy | NSDragOperationGeneric; }
- (NSImage *)draggedImage { return nil; }
- (NSPoint)draggedImageLocation { return _location; }
- (void)slideDraggedImageTo:(NSPoint)point {}
- (NSArray *)namesOfPromisedFilesDroppedAtDestination:(NSURL *)destination { return nil; }
#if !defined(GNUSTEP)
// The rest of what Apple's protocol requires: a drag made here has no image, and its items are
// read from the pasteboard, not enumerated.
- (NSDraggingFormation)draggingFormation { return NSDraggingFormationDefault; }
- (void)setDraggingFormation:(NSDraggingFormation)formation {}
- (BOOL)animatesToDestination { return NO; }
- (void)setAnimatesToDestination:(BOOL)animates {}
- (NSInteger)numberOfValidItemsForDrop { return 1; }
- (void)setNumberOfValidItemsForDrop:(NSInteger)count {}
- (void)enumerateDraggingItemsWithOptions:(NSDraggingItemEnumerationOptions)options
                                  forView:(NSView *)view
                                  classes:(NSArray *)classes
                            searchOptions:(NSDictionary *)searchOptions
                               usingBlock:(void (NS_NOESCAPE ^)(NSDraggingItem *item, NSInteger index, BOOL *stop))block {}
- (NSSpringLoadingHighlight)springLoadingHighlight { return NSSpringLoadingHighlightNone; }
- (void)resetSpringLoading {}
#endif

@end
