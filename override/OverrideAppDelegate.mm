// The grafted handlers: dock menu, open-file requests and file drags, each passed on to the host.
#import "OverrideAppDelegate.h"

#include "DesktopBridge.h"
#import "MenuHelper.h"

#include <stdint.h>

// A point coordinate in backing pixels, truncated toward zero.
static int32_t BackingPixels(CGFloat points, CGFloat scaleFactor) { return (int32_t)(points * scaleFactor); }

@implementation OverrideAppDelegate

#pragma mark - Application delegate

- (NSMenu *)applicationDockMenu:(NSApplication *)sender {
  return [[MenuHelper sharedInstance] dockMenu];
}

- (BOOL)application:(NSApplication *)sender openFile:(NSString *)filename {
  setOpenFilename(filename);
  return YES;
}

#pragma mark - Main view

- (NSDragOperation)draggingEntered:(id<NSDraggingInfo>)sender {
  NSPasteboard *pasteboard = [sender draggingPasteboard];
  NSString *fileURLType = DBFileURLPasteboardType();  // nil before macOS 10.13
  if (fileURLType != nil && [[pasteboard types] containsObject:fileURLType]) {
    notifyDragEnter();
    return NSDragOperationCopy;
  }
  if ([[pasteboard types] containsObject:NSFilenamesPboardType]) {
    notifyDragEnter();
    return NSDragOperationCopy;
  }
  return NSDragOperationNone;
}

- (void)draggingExited:(id<NSDraggingInfo>)sender {
  notifyDragExit();
}

- (BOOL)prepareForDragOperation:(id<NSDraggingInfo>)sender {
  return YES;
}

- (BOOL)performDragOperation:(id<NSDraggingInfo>)sender {
  NSPasteboard *pasteboard = [sender draggingPasteboard];
  const char *paths = NULL;
  if ([[pasteboard pasteboardItems] count] > 1) {
    id filenames = [pasteboard propertyListForType:NSFilenamesPboardType];
    // Several items but no files. Another process may have written anything under the type: only a
    // list is taken as one.
    if (![filenames isKindOfClass:[NSArray class]] || [filenames count] == 0) return YES;
    NSString *separator = [NSString stringWithFormat:@"%c", 28];
    paths = [[filenames componentsJoinedByString:separator] UTF8String];
  } else {
    // No file URL on the pasteboard: the drop is still reported, without a path. The URL's path
    // as it is, like the names of a several-file drop: not its file-system representation, which
    // decomposes non-ASCII names on macOS, so that a file arrives as the same bytes however many
    // were dropped with it.
    NSURL *url = [NSURL URLFromPasteboard:pasteboard];
    paths = [url isFileURL] ? [[url path] UTF8String] : NULL;
  }

  NSWindow *window = DBMainWindow(YES);
  if (window == nil) window = [sender draggingDestinationWindow];
  CGFloat scaleFactor = window != nil ? [window backingScaleFactor] : 1.0;
  int32_t x = BackingPixels([sender draggingLocation].x, scaleFactor);
  int32_t y = BackingPixels([sender draggingLocation].y, scaleFactor);
  notifyDragDrop(x, y, paths);
  return YES;
}

@end
