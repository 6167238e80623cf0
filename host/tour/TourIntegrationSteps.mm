// Tour steps for what the plug-in grafts onto the host at load: file drops on the main view and the
// system's requests to open a file, both delivered to the host's callbacks.
#include "Tour.h"

#include "EventLog.h"
#include "TourDragInfo.h"

static void fileDrop(TourStepContext &step) {
  NSWindow *window = TourMainWindowMadeMain(step);
  NSView *view = [window contentView];
  NSArray *types = [view registeredDraggedTypes];
  EventLog("the main view takes drags of: %s", [[types componentsJoinedByString:@", "] UTF8String]);
  step.Check([types containsObject:NSFilenamesPboardType], "the first menu call registered the view for files");
  NSString *one = step.MakeFile(@"Drops/Sunrise.mp3");
  NSArray *three = [NSArray arrayWithObjects:step.MakeFile(@"Drops/a.mp3"), step.MakeFile(@"Drops/b.mp3"),
                                             step.MakeFile(@"Drops/c.mp3"), nil];
  NSPoint at = NSMakePoint(120.6, 80.2);
  float scale = (float)[window backingScaleFactor];

  EventLog("dragging Sunrise.mp3 over the window, dropping it at (%.1f, %.1f)", at.x, at.y);
  TourDragInfo *drag = [TourDragInfo dragOfFiles:[NSArray arrayWithObject:one] at:at inWindow:window];
  NSDragOperation operation = [view draggingEntered:drag];
  step.Check(operation == NSDragOperationCopy, "the view accepts a file drag as a copy");
  step.Check([view prepareForDragOperation:drag], "the view prepares for the drop");
  step.Check([view performDragOperation:drag], "the view takes the drop");
  [drag finish];
  char expected[128];
  snprintf(expected, sizeof expected, "drop at x=%d y=%d", (int)(at.x * scale), (int)(at.y * scale));
  step.Check(step.HasLine("drag entered"), "the drag was reported");
  step.Check(step.HasLine(expected), "the drop was reported at the point, in backing pixels");
  step.Check(step.HasLine((std::string("  dropped ") + [one UTF8String]).c_str()),
             "the dropped path was reported");
  step.Pump(0.2);
  step.Shot("drop", "The host's view after the drop");

  EventLog("dropping three files at (300.0, 200.0)");
  drag = [TourDragInfo dragOfFiles:three at:NSMakePoint(300, 200) inWindow:window];
  [view draggingEntered:drag];
  [view performDragOperation:drag];
  [drag finish];
  for (NSString *path in three) {
    step.Check(step.HasLine((std::string("  dropped ") + [path UTF8String]).c_str()),
               "%s was reported", [[path lastPathComponent] UTF8String]);
  }

  EventLog("dragging text over the window, then away");
  drag = [TourDragInfo dragOfText:@"not a file" at:at inWindow:window];
  size_t before = step.CountLines("drag entered");
  operation = [view draggingEntered:drag];
  [view draggingExited:drag];
  [drag finish];
  EventLog("a text drag: draggingEntered: -> %lu", (unsigned long)operation);
  step.Check(operation == NSDragOperationNone && step.CountLines("drag entered") == before, "a drag of text is refused");
  step.Check(step.HasLine("drag exited"), "leaving the view was reported");
}

static void openFileRequests(TourStepContext &step) {
  auto getOpen = step.Export<decltype(&getOpenFilename)>("getOpenFilename");
  char **saved = step.Export<char **>("savedFilename");
  const char *atLaunch = getOpen();
  if (atLaunch) {
    EventLog("open-file request at launch: getOpenFilename() -> %s", Quoted(atLaunch).c_str());
  } else {
    EventLog("no open-file request at launch (start the host with -%s FILE for one)",
             [kPlayerOpenAtLaunchOption UTF8String]);
  }
  NSString *path = step.MakeFile(@"Playlists/Road trip.m3u", @"#EXTM3U\n");
  // What the workspace sends a running application when the person opens a file with it.
  EventLog("the system asks the running host to open %s", [path fileSystemRepresentation]);
  BOOL handled = [[NSApp delegate] application:NSApp openFile:path];
  step.Check(handled, "the application delegate took the request");
  step.Check(step.HasLine((std::string("open file: ") + [path UTF8String]).c_str()),
             "the request reached the open-file callback");
  const char *remembered = getOpen();
  EventLog("getOpenFilename() -> %s; savedFilename %s", Quoted(remembered).c_str(),
           *saved == remembered ? "holds the same pointer" : "differs");
  step.Check(remembered && strcmp(remembered, [path UTF8String]) == 0, "the request is remembered");
  step.Check(*saved == remembered, "savedFilename and getOpenFilename agree");
  if (atLaunch) step.Check(atLaunch != remembered, "the launch request's copy is kept apart");
}

static const TourStep kIntegrationSteps[] = {
    {"drop", "A file drop on the host's window",
     "PlayerWindowView/draggingEntered: PlayerWindowView/performDragOperation: PlayerWindowView/draggingExited:",
     fileDrop},
    {"open-file", "Open-file requests, at launch and while running",
     "getOpenFilename savedFilename PlayerAppDelegate/application:openFile:", openFileRequests},
};

TourStepList IntegrationTourSteps(void) {
  return {kIntegrationSteps, sizeof kIntegrationSteps / sizeof kIntegrationSteps[0], __FILE__};
}
