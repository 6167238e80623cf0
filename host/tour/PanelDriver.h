// Answers the tour's dialogs as a person would: a timer that also runs while a panel is modal
// waits for the panel on screen, photographs it, picks an entry in its file-type pop-up, selects
// the files (or types the name) and presses OK or Cancel.
#ifndef PLAYER_PANEL_DRIVER_H
#define PLAYER_PANEL_DRIVER_H

#import <AppKit/AppKit.h>

#include "Tour.h"

@interface TourPanelDriver : NSObject {
  TourStepContext *_step;
  PanelAnswer *_answer;
  BOOL _watchOnly;
  NSTimer *_timer;
  NSSavePanel *_panel;
  int _state;
  int _ticks;
}
// Starts watching for the next modal panel. watchOnly: photograph it and leave it to the person.
- (id)initWithStep:(TourStepContext *)step answer:(const PanelAnswer &)answer watchOnly:(BOOL)watchOnly;
// Stops the timer (after the panel has closed, or when the step gives up).
- (void)stop;
@end

// Why the driver cannot select files or folders in this platform's open panels, or null when it
// can (GNUstep). macOS draws the panels out of process, and no public API selects in them.
const char *TourPanelsCannotSelect(void);

// One line about a panel: kind, folder, allowed types, accessory label and pop-up entries.
std::string DescribePanel(NSSavePanel *panel);

#endif
