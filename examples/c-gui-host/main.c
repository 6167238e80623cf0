/* A GUI host written in plain C: it makes its application delegate and window view classes at run
 * time through the Objective-C runtime, loads DesktopBridge with DesktopBridgeLoader.h, shows a
 * window, puts a menu of its own in the menu bar, and runs a save panel when its item is chosen.
 * Run with -ExampleUnattended YES, it chooses the item itself, the panel is answered as a person
 * would (Save), and it quits. The same source builds on macOS and on GNUstep. */
#include <objc/message.h>
#include <objc/runtime.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "DesktopBridgeLoader.h"

#ifndef DESKTOPBRIDGE_BINARY /* the build names the installed bundle's binary */
#define DESKTOPBRIDGE_BINARY "DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH
#endif

enum { kFileMenu = 60, kSaveItem = 61 };

/* AppKit's geometry, as C sees it (CGFloat is double on 64-bit systems). */
typedef struct { double x, y, width, height; } Rect;
typedef struct { double x, y; } Point;

/* Foundation and AppKit functions and constants this host uses. */
extern void NSSetUncaughtExceptionHandler(void (*handler)(id exception));
extern id const NSDefaultRunLoopMode;
extern id NSModalPanelRunLoopMode;

static DBExports bridge;

/* ---- Messages from C ----------------------------------------------------------------------- */
/* A message is a call of the method's implementation through a cast to its own type: on macOS
 * objc_msgSend stands for every method; GNUstep's runtime looks the method up first. SEND uses its
 * receiver twice: pass a variable or a class, never a message. */
typedef void (*Method_)(void);
static Method_ implementation(id receiver, SEL selector) {
#if defined(__APPLE__)
  (void)receiver;
  (void)selector;
  return (Method_)objc_msgSend;
#else
  return (Method_)objc_msg_lookup(receiver, selector);
#endif
}
#define SEND(type, receiver, name, ...) \
  ((type)implementation((receiver), sel_registerName(name)))((receiver), sel_registerName(name), ##__VA_ARGS__)

static id classNamed(const char *name) { return (id)objc_getClass(name); }
static id string(const char *text) {
  return SEND(id (*)(id, SEL, const char *), classNamed("NSString"), "stringWithUTF8String:", text);
}
static id alloc(id class_) { return SEND(id (*)(id, SEL), class_, "alloc"); }
static id make(id class_) {
  id object = alloc(class_);
  return SEND(id (*)(id, SEL), object, "init");
}

/* ---- The bundle's callbacks ---------------------------------------------------------------- */

/* Chosen items report their tag as text; both strings are borrowed for the call. */
static void onMenu(const char *tag, const char *title) {
  printf("menu: tag %s \"%s\"\n", tag, title);
  if (atoi(tag) != kSaveItem) return;
  /* Synchronous: runs the panel modally and returns the path, borrowed ("" when cancelled). */
  const char *tmp = getenv("TMPDIR");
  const char *path = bridge.DialogSaveFilePanel("Save the C host's notes", tmp && *tmp ? tmp : "/tmp", "notes.txt",
                                                "Text;txt|All files;*");
  printf("save: %s\n", path[0] != '\0' ? path : "(cancelled, or failed: see the log)");
}

/* ---- Answering the panel without a person (-ExampleUnattended YES) ------------------------- */
/* A timer that also fires while a panel is modal: Cancel in an open panel, Save in a save panel,
 * then application events that let the modal loop see it has to end. */
static id answered; /* the panel already answered, kept so that a later one cannot pass for it */

static void answerTick(id self, SEL _cmd, id timer) {
  (void)self, (void)_cmd, (void)timer;
  id app = SEND(id (*)(id, SEL), classNamed("NSApplication"), "sharedApplication");
  id modal = SEND(id (*)(id, SEL), app, "modalWindow");
  if (modal != NULL && modal == answered) {
    Point origin = {0, 0};
    id event = SEND(id (*)(id, SEL, unsigned long, Point, unsigned long, double, long, id, short, long, long),
                    classNamed("NSEvent"), "otherEventWithType:location:modifierFlags:timestamp:windowNumber:context:"
                    "subtype:data1:data2:", 15 /* NSEventTypeApplicationDefined */, origin, 0UL, 0.0, 0L, NULL,
                    (short)0, 0L, 0L);
    SEND(void (*)(id, SEL, id, BOOL), app, "postEvent:atStart:", event, (BOOL)0);
    return;
  }
  if (modal == NULL || !SEND(BOOL (*)(id, SEL, id), modal, "isKindOfClass:", classNamed("NSSavePanel")) ||
      !SEND(BOOL (*)(id, SEL), modal, "isVisible"))
    return;
  SEND(void (*)(id, SEL), answered, "release");
  answered = SEND(id (*)(id, SEL), modal, "retain");
  bool open = SEND(BOOL (*)(id, SEL, id), modal, "isKindOfClass:", classNamed("NSOpenPanel"));
  SEND(void (*)(id, SEL, id), modal, open ? "cancel:" : "ok:", NULL);
}

static void answerPanelsUnattended(void) {
  Class answererClass = objc_allocateClassPair((Class)objc_getClass("NSObject"), "CHostPanelAnswerer", 0);
  class_addMethod(answererClass, sel_registerName("tick:"), (IMP)(void (*)(void))answerTick, "v@:@");
  objc_registerClassPair(answererClass);
  id answerer = make((id)answererClass); /* lives as long as the process */
  id timer = SEND(id (*)(id, SEL, double, id, SEL, id, BOOL), classNamed("NSTimer"),
                  "timerWithTimeInterval:target:selector:userInfo:repeats:", 0.05, answerer,
                  sel_registerName("tick:"), NULL, (BOOL)1);
  id runLoop = SEND(id (*)(id, SEL), classNamed("NSRunLoop"), "currentRunLoop");
  SEND(void (*)(id, SEL, id, id), runLoop, "addTimer:forMode:", timer, NSDefaultRunLoopMode);
  SEND(void (*)(id, SEL, id, id), runLoop, "addTimer:forMode:", timer, NSModalPanelRunLoopMode);
}

/* ---- The delegate ------------------------------------------------------------------------- */

static bool unattended;

/* applicationDidFinishLaunching: menus and dialogs are called from here on, on the main thread. */
static void didFinishLaunching(id self, SEL _cmd, id notification) {
  (void)self, (void)_cmd, (void)notification;
  bridge.setWindowTitle("C host");
  bridge.setMenuCallback(onMenu);
  /* (0, 0) is the menu bar; (0, kFileMenu) the submenu of its item tagged kFileMenu. */
  bool added = bridge.addMenuItem(0, 0, "Notes", kFileMenu, "", -1, true) &&
               bridge.addMenuItem(0, kFileMenu, "Save Notes As…", kSaveItem, "s", -1, false);
  printf("menu added: %s\n", added ? "yes" : "no");
  if (!unattended) return;
  /* As a click on the item would. */
  id app = SEND(id (*)(id, SEL), classNamed("NSApplication"), "sharedApplication");
  id mainMenu = SEND(id (*)(id, SEL), app, "mainMenu");
  id notesItem = SEND(id (*)(id, SEL, long), mainMenu, "itemWithTag:", (long)kFileMenu);
  id notes = SEND(id (*)(id, SEL), notesItem, "submenu");
  long index = SEND(long (*)(id, SEL, long), notes, "indexOfItemWithTag:", (long)kSaveItem);
  SEND(void (*)(id, SEL, long), notes, "performActionForItemAtIndex:", index);
  SEND(void (*)(id, SEL, id), app, "terminate:", NULL);
}

static void onUncaughtException(id exception) {
  id text = SEND(id (*)(id, SEL), exception, "reason");
  const char *reason = SEND(const char *(*)(id, SEL), text, "UTF8String");
  fprintf(stderr, "uncaught exception %s\n", reason ? reason : "(no reason)");
  exit(70);
}

int main(void) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (objc_getClass("NSApplication") == NULL) {
    fprintf(stderr, "AppKit is not linked into this program (see desktopbridge-appkit)\n");
    return 1;
  }
  id pool = make(classNamed("NSAutoreleasePool"));
  id app = SEND(id (*)(id, SEL), classNamed("NSApplication"), "sharedApplication");
  NSSetUncaughtExceptionHandler(onUncaughtException);

  /* The two classes, under the names the bundle looks for while it loads. A host with other names
   * registers them the same way and names them afterwards with attachHostClasses. */
  Class delegateClass = objc_allocateClassPair((Class)objc_getClass("NSObject"), DB_HOST_DELEGATE_CLASS, 0);
  class_addMethod(delegateClass, sel_registerName("applicationDidFinishLaunching:"),
                  (IMP)(void (*)(void))didFinishLaunching, "v@:@");
  objc_registerClassPair(delegateClass);
  Class viewClass = objc_allocateClassPair((Class)objc_getClass("NSView"), DB_HOST_VIEW_CLASS, 0);
  objc_registerClassPair(viewClass);

  char error[512];
  if (!DBLoadExports(DESKTOPBRIDGE_BINARY, &bridge, error, sizeof error)) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  /* The handlers the load added (the same bits again for the default classes). */
  int handlers = bridge.attachHostClasses(DB_HOST_DELEGATE_CLASS, DB_HOST_VIEW_CLASS);
  printf("handlers: 0x%x of 0x%x\n", (unsigned)handlers, (unsigned)DB_HANDLERS_ALL);

  /* The menu bar must exist before items go into it: one application item. */
  id menuBar = alloc(classNamed("NSMenu"));
  menuBar = SEND(id (*)(id, SEL, id), menuBar, "initWithTitle:", string("C host"));
  id appItem = alloc(classNamed("NSMenuItem"));
  appItem = SEND(id (*)(id, SEL, id, SEL, id), appItem, "initWithTitle:action:keyEquivalent:", string("C host"),
                 (SEL)NULL, string(""));
  SEND(void (*)(id, SEL, id), menuBar, "addItem:", appItem);
  SEND(void (*)(id, SEL, id), app, "setMainMenu:", menuBar);

  /* A window whose content view is an instance of the view class: it takes the file drops. */
  Rect frame = {200, 200, 480, 300};
  id window = alloc(classNamed("NSWindow"));
  window = SEND(id (*)(id, SEL, Rect, unsigned long, unsigned long, BOOL), window,
                "initWithContentRect:styleMask:backing:defer:", frame,
                1UL | 2UL | 4UL /* titled, closable, miniaturizable */, 2UL /* buffered */, (BOOL)0);
  Rect bounds = {0, 0, frame.width, frame.height};
  id view = alloc((id)viewClass);
  view = SEND(id (*)(id, SEL, Rect), view, "initWithFrame:", bounds);
  SEND(void (*)(id, SEL, id), window, "setContentView:", view);
  SEND(void (*)(id, SEL, id), window, "makeKeyAndOrderFront:", NULL);

  id defaults = SEND(id (*)(id, SEL), classNamed("NSUserDefaults"), "standardUserDefaults");
  unattended = SEND(BOOL (*)(id, SEL, id), defaults, "boolForKey:", string("ExampleUnattended"));
  if (unattended) answerPanelsUnattended();

  id delegate = make((id)delegateClass);
  SEND(void (*)(id, SEL, id), app, "setDelegate:", delegate);
  SEND(void (*)(id, SEL), app, "run");
  SEND(void (*)(id, SEL), pool, "drain");
  return 0;
}
