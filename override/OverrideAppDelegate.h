// The handlers that the plug-in grafts onto the host's classes at load: the dock menu and open-file
// requests on the application delegate, file drags on the main view.
//
// They run on whatever host object they were grafted onto, never on an OverrideAppDelegate, and
// use neither the receiver nor any state of their own. AppKit calls them on the main thread; the
// host's callbacks run synchronously inside them, so the paths text handed to a drop callback is
// valid until the callback returns.
#ifndef DB_OVERRIDE_APP_DELEGATE_H
#define DB_OVERRIDE_APP_DELEGATE_H

#import "DBPlatform.h"

@interface OverrideAppDelegate : NSObject

#pragma mark - Application delegate

// The menu manager's dock menu (the manager is created on first use).
- (NSMenu *)applicationDockMenu:(NSApplication *)sender;
// Hands filename to the host as the latest open-file request; always YES.
- (BOOL)application:(NSApplication *)sender openFile:(NSString *)filename;

#pragma mark - Main view

// Copy (1) for a drag that offers files, by file URL where the system has that type or by file
// names; none (0) otherwise. Notifies the host of an accepted drag only.
- (NSDragOperation)draggingEntered:(id<NSDraggingInfo>)sender;
// Notifies the host, for every drag that leaves, accepted or not.
- (void)draggingExited:(id<NSDraggingInfo>)sender;
// Always YES.
- (BOOL)prepareForDragOperation:(id<NSDraggingInfo>)sender;
// Notifies the host of the drop: the location in the window's base coordinates scaled to backing
// pixels, and the dropped path, or several paths joined with the list separator. Always YES.
- (BOOL)performDragOperation:(id<NSDraggingInfo>)sender;

@end

#endif
