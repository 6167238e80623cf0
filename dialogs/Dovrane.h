// Native file dialogs: the dialog object behind the six dialog exports, and the target of the
// file-type pop-up in its panels.
//
// One Dovrane serves one request. It parses the filter specification, prepares an open or save
// panel with a file-type pop-up, runs it modally and turns the chosen items into the result
// string. It keeps everything it made for the request (panel, accessory, pop-up, handler, lists)
// until it is released, which the exports do once the result has been delivered.
//
// Threads: panels are prepared and run on the main thread. The asynchronous operations may be
// called on any thread; the others only on the main thread.
#ifndef DB_DOVRANE_H
#define DB_DOVRANE_H

#import "DBPlatform.h"

// Target of the file-type pop-up. It narrows the panel's allowed file types to the picked entry
// and, in a save panel, puts the entry's first extension on the name in the name field.
//
// It does not own the panel it was initialised with, nor its extension lists: the dialog keeps
// both alive while the panel can send actions. A panel given with setPanel: is retained, and
// released again when it is replaced or the handler goes.
@interface PopUpButtonHandler : NSObject {
  NSPanel *_panel;
  NSArray *_extensions;
  BOOL _ownsPanel;
}
@property(nonatomic, retain) NSPanel *panel;
@property(nonatomic, retain) NSArray *extensions;

- (instancetype)initWithPanel:(NSPanel *)panel;
- (void)setExtensions:(NSArray *)extensions;
// Pop-up actions: sender is the pop-up button, whose item i stands for extension list i.
- (void)selectFormatOpen:(id)sender;
- (void)selectFormatSave:(id)sender;
@end

@interface Dovrane : NSObject {
  NSSavePanel *_panel;
  NSView *_accessoryView;
  NSPopUpButton *_popUpButton;
  PopUpButtonHandler *_handler;
  NSMutableArray *_filterTitles;
  NSMutableArray *_extensions;
}

// Logs "init".
- (instancetype)init;

// Open panels. The result is the chosen paths joined by the list separator (0x1C), or "" when
// the panel was cancelled, nothing was chosen or the panel could not be prepared.
- (NSString *)dialogOpenFilePanel:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                      multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                 canChooseFolders:(BOOL)canChooseFolders;
// Prepares the panel and queues its modal run on the main thread; returns before it shows. The
// result goes to the callback of the latest asynchronous request.
- (void)dialogOpenFilePanelAsync:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                     multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                canChooseFolders:(BOOL)canChooseFolders;
// Main thread: runs the prepared panel (nil: none) and delivers the result.
- (void)dialogOpenFilePanelAsyncSelector:(NSOpenPanel *)panel;
// The prepared open panel, or nil when preparing it raised (logged).
- (NSOpenPanel *)createOpenPanel:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                     multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                canChooseFolders:(BOOL)canChooseFolders;

// Save panels. The result is the chosen path, or "" as for open panels.
- (NSString *)dialogSaveFilePanel:(NSString *)title directory:(NSString *)directory
                      defaultName:(NSString *)defaultName filters:(NSString *)filters;
- (void)dialogSaveFilePanelAsync:(NSString *)title directory:(NSString *)directory
                     defaultName:(NSString *)defaultName filters:(NSString *)filters;
- (void)dialogSaveFilePanelAsyncSelector:(NSSavePanel *)panel;
- (NSSavePanel *)createSavePanel:(NSString *)title directory:(NSString *)directory
                     defaultName:(NSString *)defaultName filters:(NSString *)filters;

// Appends one pop-up title and one extension list per well-formed entry of filter. Stops at the
// first malformed entry (logged), keeping the entries before it.
- (void)parseFilter:(NSString *)filter filters:(NSMutableArray *)filters extensions:(NSMutableArray *)extensions;

@end

#endif
