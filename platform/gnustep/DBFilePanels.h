// Open and save panels that behave as AppKit's do: +openPanel and +savePanel hand out a new panel
// on every call, the panel keeps its accessory view alive, answers the message it was given, and
// shows the name put into its name field before it runs.
//
// GNUstep hands out one shared panel per class, reset on each call; its setAccessoryView: does not
// retain the view, its message getter returns nil, the message is shown nowhere, and runModal
// clears the name field. The two
// subclasses close those gaps, and the factories below return them, so that callers write the
// same code as on macOS.
#ifndef DB_FILE_PANELS_H
#define DB_FILE_PANELS_H

#import <AppKit/AppKit.h>

@interface DBOpenPanel : NSOpenPanel {
  NSString *_retainedMessage;
  NSView *_retainedAccessoryView;
  NSTextField *_messageField;  // shows the message; made with the first one
}
@end

@interface DBSavePanel : NSSavePanel {
  NSString *_retainedMessage;
  NSView *_retainedAccessoryView;
  NSTextField *_messageField;  // shows the message; made with the first one
}
@end

// Declared by Apple's SDK (macOS 10.11) and absent here; callers test respondsToSelector: first.
@interface NSOpenPanel (DBAccessoryDisclosure)
- (void)setAccessoryViewDisclosed:(BOOL)disclosed;
@end

#endif
