// Dragging information for a drag that the tour makes: the pasteboard, location and window a drag
// from a file manager carries, handed to the host's view the way AppKit hands a real drag to it.
// The graft test hosts drive the handlers with it too.
#ifndef PLAYER_TOUR_DRAG_INFO_H
#define PLAYER_TOUR_DRAG_INFO_H

#import <AppKit/AppKit.h>

@interface TourDragInfo : NSObject <NSDraggingInfo> {
  NSPasteboard *_pasteboard;
  NSPoint _location;
  NSWindow *_window;
}
// A drag of whatever pasteboard holds, over window at location (in the window's base coordinates).
- (id)initWithPasteboard:(NSPasteboard *)pasteboard at:(NSPoint)location inWindow:(NSWindow *)window;
// A drag of files (one or more paths) over window at location, in the window's base coordinates.
+ (TourDragInfo *)dragOfFiles:(NSArray *)paths at:(NSPoint)location inWindow:(NSWindow *)window;
// A drag of plain text, which a file destination refuses.
+ (TourDragInfo *)dragOfText:(NSString *)text at:(NSPoint)location inWindow:(NSWindow *)window;
// Gives the pasteboard back to the system.
- (void)finish;
@end

#endif
