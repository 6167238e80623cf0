/* Answers the example's panels without a person: a timer that also runs while a panel is modal. */
#import <AppKit/AppKit.h>
#include "Unattended.h"

@interface UnattendedAnswerer : NSObject {
  NSWindow *_answered;
}
- (void)tick:(NSTimer *)timer;
@end

@implementation UnattendedAnswerer
- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (modal != nil && modal == _answered) {
    /* Answered but still running: a fresh event lets the modal loop see that it has to end. */
    [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                       timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
             atStart:NO];
    return;
  }
  if (![modal isKindOfClass:[NSSavePanel class]] || ![modal isVisible]) return;
  /* Kept, so that a later panel cannot take its address and pass for it. */
  [_answered release];
  _answered = [modal retain];
  if ([modal isKindOfClass:[NSOpenPanel class]]) {
    [(NSOpenPanel *)modal cancel:nil];
  } else {
    NSSavePanel *panel = (NSSavePanel *)modal;
    if ([[panel nameFieldStringValue] length] == 0) [panel setNameFieldStringValue:@"unattended.txt"];
    [panel ok:nil];
  }
}
@end

void AnswerPanelsUnattended(void) {
  UnattendedAnswerer *answerer = [[UnattendedAnswerer alloc] init]; /* lives as long as the process */
  NSTimer *timer = [NSTimer timerWithTimeInterval:0.1 target:answerer selector:@selector(tick:) userInfo:nil repeats:YES];
  [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSDefaultRunLoopMode];
  [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
}
