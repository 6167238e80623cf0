/* Answers modal file panels from a timer that runs while the panel's modal loop does, using only
 * what AppKit offers every program: +[NSApplication modalWindow], the panels' folder and name,
 * -ok: and -cancel:. Builds with and without ARC. */
#import <AppKit/AppKit.h>
#include <string.h>
#include "DesktopBridgeAnswerPanels.h"

enum { kAnswerCancel, kAnswerOK, kAnswerPath };

static int answeredPanels, unexpectedPanels, refusedPanels;

@interface DesktopBridgePanelAnswerer : NSObject {
  NSMutableArray *_answers;  /* NSDictionary: "kind" (NSNumber), "path" (NSString) */
  NSMutableArray *_current;  /* the panel answered last, while it may be up (no item or one) */
  BOOL _currentClosed;       /* it closed since: if it comes up again, that is a new showing */
  BOOL _pressingOK;          /* OK was pressed and is pressed again until the panel closes */
  int _ticks;                /* since the answer was given */
}
- (void)queueAnswer:(int)kind path:(NSString *)path;
- (void)reset;
- (void)tick:(NSTimer *)timer;
- (void)windowWillClose:(NSNotification *)notification;
@end

/* The browser of a panel drawn in this process, or nil. */
static NSBrowser *FindBrowser(NSView *view) {
  if ([view isKindOfClass:[NSBrowser class]]) return (NSBrowser *)view;
  for (NSView *subview in [view subviews]) {
    NSBrowser *browser = FindBrowser(subview);
    if (browser != nil) return browser;
  }
  return nil;
}

static void ShowPath(NSSavePanel *panel, NSString *path) {
  NSURL *folder = [NSURL fileURLWithPath:[path stringByDeletingLastPathComponent]];
  if (![panel isKindOfClass:[NSOpenPanel class]]) {
    [panel setDirectoryURL:folder];
    [panel setNameFieldStringValue:[path lastPathComponent]];
    return;
  }
  BOOL isDirectory = NO;
  if ([(NSOpenPanel *)panel canChooseDirectories] &&
      [[NSFileManager defaultManager] fileExistsAtPath:path isDirectory:&isDirectory] && isDirectory) {
    /* With nothing selected, a folder panel chooses the folder it shows. */
    [panel setDirectoryURL:[NSURL fileURLWithPath:path]];
    return;
  }
  [panel setDirectoryURL:folder];
  [FindBrowser([panel contentView]) setPath:path];
}

/* An application-defined event makes a modal loop look at its stop flag again. */
static void WakeModalLoop(void) {
#if defined(GNUSTEP)
  NSEventType type = NSApplicationDefined;
#else
  NSEventType type = NSEventTypeApplicationDefined;
#endif
  [NSApp postEvent:[NSEvent otherEventWithType:type location:NSZeroPoint modifierFlags:0 timestamp:0 windowNumber:0
                                       context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}

@implementation DesktopBridgePanelAnswerer

- (id)init {
  if ((self = [super init]) == nil) return nil;
  _answers = [[NSMutableArray alloc] init];
  _current = [[NSMutableArray alloc] init];
  NSTimer *timer = [NSTimer timerWithTimeInterval:0.05 target:self selector:@selector(tick:) userInfo:nil repeats:YES];
  [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
  [[NSNotificationCenter defaultCenter] addObserver:self selector:@selector(windowWillClose:)
                                               name:NSWindowWillCloseNotification object:nil];
  return self;
}

- (void)queueAnswer:(int)kind path:(NSString *)path {
  [_answers addObject:[NSDictionary dictionaryWithObjectsAndKeys:[NSNumber numberWithInt:kind], @"kind",
                                                                  path ? path : @"", @"path", nil]];
}

- (void)reset {
  [_answers removeAllObjects];
  [_current removeAllObjects];
  _pressingOK = NO;
}

- (void)windowWillClose:(NSNotification *)notification {
  if ([notification object] == [_current lastObject]) _currentClosed = YES;
}

- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (modal == nil) return;
  WakeModalLoop(); /* every tick while a panel is modal, until its loop has ended */
  if (modal == [_current lastObject] && !(_currentClosed && [modal isVisible])) {
    if (!_pressingOK) return;
    if (++_ticks == 40) { /* two seconds and still up: OK is refused */
      refusedPanels++;
      _pressingOK = NO;
      [(NSSavePanel *)modal cancel:nil];
    } else if (_ticks % 10 == 0) {
      [(NSSavePanel *)modal ok:nil]; /* a panel may refuse OK for a moment after it appears */
    }
    return;
  }
  if (![modal isKindOfClass:[NSSavePanel class]]) return;
  NSSavePanel *panel = (NSSavePanel *)modal;
  [_current removeAllObjects];
  [_current addObject:panel]; /* kept, so that a later panel cannot take its address */
  _currentClosed = NO;
  _ticks = 0;
  if ([_answers count] == 0) {
    unexpectedPanels++;
    _pressingOK = NO;
    [panel cancel:nil];
    return;
  }
  NSDictionary *answer = [_answers objectAtIndex:0];
  int kind = [[answer objectForKey:@"kind"] intValue];
  if (kind == kAnswerPath) ShowPath(panel, [answer objectForKey:@"path"]);
  [_answers removeObjectAtIndex:0];
  answeredPanels++;
  _pressingOK = kind != kAnswerCancel;
  if (_pressingOK)
    [panel ok:nil];
  else
    [panel cancel:nil];
}

@end

static DesktopBridgePanelAnswerer *Answerer(void) {
  static DesktopBridgePanelAnswerer *answerer = nil; /* lives as long as the process */
  if (answerer == nil) answerer = [[DesktopBridgePanelAnswerer alloc] init];
  return answerer;
}

void DesktopBridgeAnswerNextPanelOK(void) { [Answerer() queueAnswer:kAnswerOK path:nil]; }

void DesktopBridgeAnswerNextPanelCancel(void) { [Answerer() queueAnswer:kAnswerCancel path:nil]; }

void DesktopBridgeAnswerNextPanelWithPath(const char *path) {
  @autoreleasepool {
    NSFileManager *files = [NSFileManager defaultManager];
    NSString *text = path ? [files stringWithFileSystemRepresentation:path length:strlen(path)] : nil;
    if (text == nil) text = @"";
    if (![text isAbsolutePath]) text = [[files currentDirectoryPath] stringByAppendingPathComponent:text];
    [Answerer() queueAnswer:kAnswerPath path:text];
  }
}

int DesktopBridgeAnsweredPanels(void) { return answeredPanels; }
int DesktopBridgeUnexpectedPanels(void) { return unexpectedPanels; }
int DesktopBridgeRefusedPanels(void) { return refusedPanels; }

void DesktopBridgeResetPanelAnswers(void) {
  [Answerer() reset];
  answeredPanels = unexpectedPanels = refusedPanels = 0;
}
