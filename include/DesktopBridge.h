/*
 * DesktopBridge: desktop facilities for a host application, loaded as a plug-in bundle.
 *
 * The host loads DesktopBridge.bundle into its own process (NSBundle, or dlopen of the binary
 * inside it), resolves the functions below by name (dlsym) and calls them with plain C values.
 * Each has a pointer type for that (DBFn_<name>, at the end); DesktopBridgeLoader.h, installed
 * beside this header, resolves them all into one struct.
 *
 * Strings
 *   Every string that crosses the boundary is a NUL-terminated UTF-8 byte string.
 *   - owned:    a new block from malloc; the caller releases it with free().
 *   - borrowed: points into a temporary string object of the plug-in; valid until the calling
 *               thread's autorelease pool drains (inside a callback: at least until it returns).
 *               Copy it to keep it; never free it.
 *   A null string argument counts as the empty string unless a function says otherwise; so does
 *   a string that is not valid UTF-8.
 *
 * Threads
 *   AppKit work belongs to the main thread: call every function on the main thread unless its
 *   comment says otherwise. Callbacks are called on the main thread.
 *
 * List separator
 *   Several paths (dialog results, drops) or several arguments (createProcess) travel in one
 *   string joined with the character 0x1C (DB_LIST_SEPARATOR), which stands only between items.
 *
 * Failures
 *   No exception leaves a function of the bundle. Whatever raises inside one (an Objective-C
 *   exception, or a C++ exception thrown by a host callback) is caught where the function returns:
 *   one line goes to the system log ("<function> stopped by <what>; returning <value>") and the
 *   function returns its failure value, which its comment names after "Failure:". A function that
 *   returns nothing just returns.
 *
 * Shared application and display
 *   Windows, panels, menus and screens belong to the shared application, which the host makes
 *   ([NSApplication sharedApplication]) and whose run loop delivers events. The display is the
 *   window server that draws them: on macOS the login session's, reached also without a shared
 *   application; on GNUstep the X display named by DISPLAY, reached only through the shared
 *   application, which cannot be made without it ([NSApplication sharedApplication] raises
 *   NSWindowServerCommunicationException). Each comment says what a call needs and what it does
 *   without a shared application ("plain script": a process that made none, as a script
 *   interpreter is).
 *   Needing neither: attachHostClasses, the callbacks and notify functions, getOpenFilename,
 *   trashFile, getUUID, getAppVersion, createProcess (and launchApp, which starts an application
 *   bundle's executable: see there).
 *   Needing the shared application: the menus and the window services.
 *   Needing it and a display: the file dialogs, and getScaleFactor for a real answer.
 *
 * Each function below says, in the same order: what it does; the thread it may be called on;
 * what it returns and who owns it; what a failure looks like; what it does in a plain script
 * where that differs.
 */
#ifndef DESKTOPBRIDGE_H
#define DESKTOPBRIDGE_H

#include <stdbool.h>

/* The version of the bundle this header describes. The header stands alone: a host may copy it
 * without anything else (DesktopBridgeVersion.h, installed beside it, repeats these lines). */
#define DB_VERSION_MAJOR 1
#define DB_VERSION_MINOR 0
#define DB_VERSION_PATCH 0
#define DB_VERSION_STRING "1.0.0"

#define DB_API __attribute__((visibility("default")))
#define DB_LIST_SEPARATOR '\x1c'

/* The host's classes. While it loads, the bundle adds handlers to two classes of the host, found
 * by these exact names; a host whose classes have other names names them with attachHostClasses
 * (below).
 *   DB_HOST_DELEGATE_CLASS  the class of the application's delegate ([NSApp delegate]), an
 *                           NSObject subclass: gets applicationDockMenu: (the dock menu) and
 *                           application:openFile: (open-file requests).
 *   DB_HOST_VIEW_CLASS      the class of the main window's content view, an NSView subclass: gets
 *                           draggingEntered:, draggingExited:, prepareForDragOperation: and
 *                           performDragOperation: (file drops).
 * Both classes must be registered with the runtime before the bundle loads (classes compiled into
 * the host are; classes made at run time must be made first). When either is missing, the load
 * writes one line to the system log saying which facilities stay off. A method the class defines
 * itself is kept and the bundle does not hear that event (one line in the log); on macOS 10.13
 * and later a delegate that implements application:openURLs: receives the open-file requests
 * instead of application:openFile:. The view receives drops only once a menu function has run
 * while the window is the main window (the first menu call registers its content view for file
 * drags). A host checks the handlers with the result of attachHostClasses, or for example:
 *   [NSClassFromString(@DB_HOST_VIEW_CLASS) instancesRespondToSelector:@selector(performDragOperation:)]
 */
#define DB_HOST_DELEGATE_CLASS "PlayerAppDelegate"
#define DB_HOST_VIEW_CLASS "PlayerWindowView"

/* The handlers, one bit each, in the order the bundle installs them (results of attachHostClasses). */
#define DB_HANDLER_DOCK_MENU      0x01  /* applicationDockMenu:       delegate class */
#define DB_HANDLER_OPEN_FILE      0x02  /* application:openFile:      delegate class */
#define DB_HANDLER_DRAG_ENTERED   0x04  /* draggingEntered:           view class */
#define DB_HANDLER_DRAG_EXITED    0x08  /* draggingExited:            view class */
#define DB_HANDLER_PREPARE_DRAG   0x10  /* prepareForDragOperation:   view class */
#define DB_HANDLER_PERFORM_DRAG   0x20  /* performDragOperation:      view class */
#define DB_HANDLERS_ALL           0x3F

/* Mangled names of the two exports without C linkage, for hosts that bind with dlsym. */
#define DB_MAKE_C_STRING_SYMBOL "_Z11MakeCStringP8NSString"
#define DB_SET_AUTO_RESTORE_SYMBOL "_Z14setAutoRestorev"

/* Where the binary to dlopen sits inside DesktopBridge.bundle:
 *   dlopen("<dir>/DesktopBridge.bundle/" DB_BUNDLE_BINARY_SUBPATH, RTLD_NOW | RTLD_LOCAL) */
#if defined(__APPLE__)
#define DB_BUNDLE_BINARY_SUBPATH "Contents/MacOS/DesktopBridge"
#else
#define DB_BUNDLE_BINARY_SUBPATH "DesktopBridge"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The host's classes ------------------------------------------------------------------ */

/* Adds the six handlers to the classes the host names: the two delegate handlers to the class
 * named delegateClassName (an NSObject subclass), the four view handlers to the class named
 * viewClassName (an NSView subclass); null or "" skips that class. Call it once the classes
 * exist, before or after the application finishes launching; calling it again (or for the
 * default classes, which the load handled) changes nothing and returns the same bits. A method
 * the class defines itself is kept, as at load. Main thread.
 * Returns the DB_HANDLER_* bits of the handlers that are the bundle's on those classes after the
 * call. Failure: 0 when nothing took; a name the process does not know, or a class of the wrong
 * kind, writes one line to the system log and gets nothing. Needs no shared application. */
DB_API int attachHostClasses(const char *delegateClassName, const char *viewClassName);

/* ---- Callback types ---------------------------------------------------------------------- */
/* Every callback is called on the main thread, synchronously, while AppKit handles the event.
 * The callbacks carry no user-data pointer: keep what they need in the host's own globals. */

/* Menu item chosen or managed submenu opening: tag as decimal text, and a title. Both borrowed. */
typedef void (*DBMenuCallback)(const char *tag, const char *title);
/* A file drag entered / left the main view. */
typedef void (*DBDragEnterCallback)(void);
typedef void (*DBDragExitCallback)(void);
/* Files dropped at (x, y) in backing pixels of the receiving window; paths borrowed, may be null. */
typedef void (*DBDragDropCallback)(int x, int y, const char *paths);
/* The system asked the application to open a file; path is the plug-in's copy (see getOpenFilename). */
typedef void (*DBOpenFileCallback)(const char *path);
/* Result of an asynchronous dialog: borrowed; "" when cancelled or failed. */
typedef void (*DBDialogCallback)(const char *result);

/* ---- Host callbacks ---------------------------------------------------------------------- */
/* None of these needs a shared application: they keep or call the host's function pointers.
 * The events that call them (menu choices, drops, open-file requests) come from the shared
 * application's event loop. */

/* Registers the menu callback; a later call replaces it, null turns it off.
 * Main thread, or before any menu exists. Returns nothing. Failure: cannot fail. */
DB_API void setMenuCallback(DBMenuCallback callback);
/* Calls the menu callback with both strings unchanged (null included), if one is registered.
 * Main thread. Returns nothing; without a callback nothing happens. Failure (the callback
 * raises or throws): the call ends there, with one log line. */
DB_API void notifyMenuSelected(const char *tag, const char *title);
/* Registers all three drag callbacks at once; a null pointer turns that one off (to change one,
 * pass the other two again). Main thread. Returns nothing. Failure: cannot fail. */
DB_API void setDragDropCallback(DBDragEnterCallback enter, DBDragExitCallback exit, DBDragDropCallback drop);
/* Call the matching drag callback with the values unchanged, if registered.
 * Main thread. Return nothing; without a callback nothing happens. Failure (the callback raises
 * or throws): the call ends there, with one log line. */
DB_API void notifyDragEnter(void);
DB_API void notifyDragExit(void);
DB_API void notifyDragDrop(int x, int y, const char *paths);
/* Registers the open-file callback; null turns it off (requests are still remembered).
 * Main thread. Returns nothing. Failure: cannot fail. */
DB_API void setOpenFileCallback(DBOpenFileCallback callback);
/* The path of the most recent open-file request. Any thread.
 * Returns the plug-in's copy, never freed (older copies too): readable for the life of the
 * process, never to be freed by the host. Null before the first request. Failure: null. Needs no
 * shared application (in a plain script nothing makes requests: null). */
DB_API const char *getOpenFilename(void);
/* The same pointer as getOpenFilename, as an exported variable: read it, never write it. */
DB_API extern char *savedFilename;

/* ---- Window, application and system services --------------------------------------------- */
/* "The main window" below is [NSApp mainWindow]; while the application is inactive and has none,
 * the key window if it can become main, else the frontmost of its ordered windows that is visible,
 * not miniaturized and can become the main window (never a panel). getScaleFactor, bringToFront
 * and the drop location take a miniaturized window too, when there is no other. */

/* Sets the main window's title (copied). Main thread.
 * Returns nothing; does nothing for null or when there is no main window (see above). Needs the
 * shared application, whose windows these are: a plain script has none, and nothing happens.
 * Failure: nothing changes. */
DB_API void setWindowTitle(const char *title);
/* The backing scale factor of the main window (2.0 on a Retina display). Main thread.
 * Without a window: the main screen's; with neither: 1.0. Failure: 1.0. Needs a display for a
 * real answer (screens are the window server's). Plain script: GNUstep finds no screen without a
 * shared application (1.0, with one log line); macOS asks the window server for the main screen. */
DB_API float getScaleFactor(void);
/* Activates the application, even when another one is frontmost, and de-miniaturizes its main
 * window, if it has one. On macOS 14 and later activation is cooperative: the system may refuse
 * it (the application then stays inactive), and the window is ordered to the front regardless.
 * Main thread. Returns nothing; without a window it only activates. Failure: nothing more
 * happens. Needs the shared application: activation makes its windows and menus the frontmost;
 * a plain script has none to show. */
DB_API void bringToFront(void);
/* Starts another instance of the running application (its bundle's executable, without
 * arguments) and returns without waiting for it. Main thread.
 * Returns nothing. Failure: not reported (a failed launch included). Needs no shared application,
 * but an application bundle ([NSBundle mainBundle]): a plain script's main bundle is its
 * interpreter's; GNUstep starts the interpreter again without arguments, macOS only when that
 * bundle is an application (else nothing starts). */
DB_API void launchApp(void);
/* Moves the item at path to the Trash (a symbolic link itself, never its target). Main thread.
 * Returns true when moved. Failure: false, for null or "", a missing item or any other failure
 * (nothing is changed then). Needs no shared application (it is file-system work). */
DB_API bool trashFile(const char *path);
/* The hardware UUID, 8-4-4-4-12 upper case. Main thread.
 * Returns an owned string, a new one per call: free() it. Failure: null, also when it cannot be
 * read. Needs no shared application. */
DB_API char *getUUID(void);
/* The application's CFBundleVersion. Main thread.
 * Returns an owned string: free() it. Failure: null, also when the key is missing or not text
 * (a process that is not an application bundle has none). Needs no shared application. */
DB_API char *getAppVersion(void);

/* Runs launchPath with arguments joined by DB_LIST_SEPARATOR ("" is one empty argument), never
 * through a shell. Any thread, several at once. The program, the arguments, the working directory
 * and the host's environment (inherited as it is at the call) reach the child as the host's bytes,
 * unchanged (no Unicode normalization). A launchPath without "/" is looked up in the host's PATH
 * as a shell does (the system's default path when PATH is unset); a relative one with "/" is taken
 * from the working directory. workingDirectory null or "" keeps the host's. The child gets no
 * descriptor of the host other than 0-2, default signal handling and an empty signal mask.
 * Detached (waitForExit false): returns 0 once launched and leaves *output as it was; the child
 * is collected by a background thread when it exits (no zombie).
 * Waiting: blocks the calling thread (running none of its run loop) until the child has exited;
 * returns its exit status (the signal number for a child killed by a signal) and, when output is
 * not null, stores the combined stdout+stderr in *output: owned, free() it; null when it is not
 * valid UTF-8; it ends at the first NUL byte. The output is read while the child runs; a process
 * the child leaves running does not delay the return; what it writes later to the inherited
 * output is read and discarded in the background, for at most 64 such pipes at once (beyond that
 * the oldest is closed: its writer gets SIGPIPE).
 * Failure, waiting or detached (no or unusable path, a program not found in PATH, a working
 * directory that cannot be entered, null arguments, a path, arguments or a working directory that
 * are not valid UTF-8, more arguments than the system takes, no memory): -1, and when output is not
 * null a description in *output (owned: free it). A waiting call whose child was collected by
 * someone else in the host (a wait for any child, or the system because the host ignores SIGCHLD)
 * has no status to give: -1, with a description that says so. */
DB_API int createProcess(const char *launchPath, const char *arguments, const char *workingDirectory,
                         bool waitForExit, char **output);

/* ---- File dialogs ------------------------------------------------------------------------ */
/* filters is a filter specification: entries "Name;ext1,ext2" joined by "|", for example
 * "Images;png,jpg|All files;*". Pieces are taken exactly as written (no trimming, no dots added);
 * an entry without ";" ends the list there (one log line; earlier entries are kept). Each entry
 * becomes one item "Name (*.ext1,*.ext2)" of the panel's file-type pop-up, in order, duplicates
 * included. An entry whose first extension is "*" or "" allows every file type.
 * The panel starts with the first entry selected and its types allowed; when that entry allows
 * every type (for example "All files;*" first), the panel starts unrestricted rather than with a
 * literal "*" type that no file has. Picking an entry in an open panel allows its whole list; in a
 * save panel it allows only its first extension and puts it on the typed name ("report.txt" ->
 * "report.png"; an any-type entry drops the extension).
 * title becomes the panel's message line ("" keeps it unchanged). directory is the start folder
 * ("" leaves the panel where it starts by itself; on macOS usually the folder it showed last).
 * Null strings and strings that are not valid UTF-8 count as "".
 * Cancel and failure give the same "": a failure also writes one line to the system log ("init"
 * is written for every request). On macOS a process without a CFBundleIdentifier may see its
 * panels answer Cancel at once: ship the host as an application bundle with an identifier.
 * Every dialog needs the shared application and a display: a panel is a window, drawn by the
 * window server and run modally in the application's event loop. A plain script gets "" and log
 * lines from every synchronous form; an asynchronous result comes through the main thread's run
 * loop, which only a running application turns (a plain script never hears the callback). */

/* Runs an open panel for files modally. Main thread only (elsewhere: one log line and "").
 * Returns the chosen path(s) joined by DB_LIST_SEPARATOR, borrowed: valid until the caller's
 * autorelease pool drains; copy it to keep it. "" when cancelled. Failure: "". */
DB_API const char *DialogOpenFilePanel(const char *title, const char *directory, const char *filters,
                                       bool multiselect);
/* Runs an open panel for folders (no pop-up) modally. Main thread only (elsewhere: one log line
 * and ""). Returns the chosen folder(s) as DialogOpenFilePanel does: borrowed; "" when cancelled
 * or failed. Failure: "". */
DB_API const char *DialogOpenFolderPanel(const char *title, const char *directory, bool multiselect);
/* Runs a save panel modally, with defaultName in its name field. Main thread only (elsewhere: one
 * log line and ""). Returns one path, borrowed (copy it to keep it); "" when cancelled or failed.
 * Nothing is written to the file. Failure: "". */
DB_API const char *DialogSaveFilePanel(const char *title, const char *directory, const char *defaultName,
                                       const char *filters);

/* The asynchronous forms take the same arguments and return at once, from any thread, before the
 * panel shows. The panel runs modally on the main thread; the result (as the synchronous form
 * would return it: "" when cancelled or failed) goes to a callback there, once per request, and
 * is borrowed for the call. All asynchronous requests share one callback slot: the result goes to
 * the callback of the latest asynchronous request (open or save), so a request made while another
 * is pending takes over the earlier one's result too. A null callback drops the result.
 * Failure: a request that raises before its panel is scheduled writes one log line, and its
 * callback hears nothing. */
DB_API void DialogOpenFilePanelAsync(const char *title, const char *directory, const char *filters,
                                     bool multiselect, DBDialogCallback callback);
DB_API void DialogOpenFolderPanelAsync(const char *title, const char *directory, bool multiselect,
                                       DBDialogCallback callback);
DB_API void DialogSaveFilePanelAsync(const char *title, const char *directory, const char *defaultName,
                                     const char *filters, DBDialogCallback callback);

/* ---- Menu manager ------------------------------------------------------------------------ */
/* A target menu is named by (menuTag, subMenuTag): (0, 0) the main menu, (0, 1) the dock menu,
 * (0, s) the submenu of the main-menu item tagged s, (m, s) the submenu of the item tagged s in
 * the submenu of the main-menu item tagged m. Items are found by tag (the first one carrying it).
 * The first menu call creates the manager and the dock menu, and registers the main window's
 * content view for file drags (if there is a main window then). Null or non-UTF-8 strings count
 * as "". All menu functions: main thread only.
 * The menu callback hears the item's tag as "%ld" text and its current title when an item is
 * chosen, and the holding item's tag with the submenu's own title (as created) when a managed
 * submenu opens. The main menu must exist ([NSApp setMainMenu:]) before items go into it.
 * Menus need a shared application: the main menu is its own, and GNUstep cannot make even the
 * dock menu without one. In a plain script every menu function gives its failure value (false, or
 * nothing happens), with one log line. */

/* Adds an enabled item (an empty title adds a separator carrying the tag) at index (negative or
 * past the end: appended); isSubMenu gives it a managed submenu that reports its opening.
 * Returns true when added. Failure: false, also when the target menu does not exist. */
DB_API bool addMenuItem(int menuTag, int subMenuTag, const char *title, int tag, const char *keyEquivalent,
                        int index, bool isSubMenu);
/* Removes the first item tagged itemTag, with its submenu.
 * Returns true when removed. Failure: false, also when the menu or the item is missing. */
DB_API bool removeMenuItem(int menuTag, int subMenuTag, int itemTag);
/* Empties the target menu ((0, 0): the whole menu bar). Returns nothing; no menu: nothing happens.
 * Failure: nothing more happens. */
DB_API void removeAllMenuItems(int menuTag, int subMenuTag);
/* Enables or disables the item (a disabled item reports nothing).
 * Returns nothing; a missing menu or item: nothing happens. Failure: nothing changes. */
DB_API void setMenuItemEnabled(int menuTag, int subMenuTag, int itemTag, bool enabled);
/* Puts the item's check mark on or off. Returns nothing; a missing menu or item: nothing happens.
 * Failure: nothing changes. */
DB_API void setMenuItemChecked(int menuTag, int subMenuTag, int itemTag, bool checked);
/* Returns true only when the item exists and is checked (false for the mixed state and for a
 * missing menu or item). Failure: false. */
DB_API bool isMenuItemChecked(int menuTag, int subMenuTag, int itemTag);
/* Retitles the item only (a submenu keeps its own title); the next selection reports the new
 * title. Returns nothing; a missing menu or item: nothing happens. Failure: nothing changes. */
DB_API void setMenuItemText(int menuTag, int subMenuTag, int itemTag, const char *text);

#ifdef __cplusplus
} /* extern "C" */

/* Asks the window system to save and restore the main window's frame (see above) under the
 * window's represented file name, used as it is ("" stops the saving), and stops its window
 * controller cascading new windows. Main thread. Returns nothing; without a main window (a plain
 * script has none) nothing happens. Failure: nothing more happens. Exported under the C++ name DB_SET_AUTO_RESTORE_SYMBOL: a C host binds it with dlsym
 * of that name, as a void (*)(void). */
DB_API void setAutoRestore();
#endif

#if defined(__cplusplus) && defined(__OBJC__)
@class NSString;
extern "C" {
/* Remembers a copy of path as the open-file path (null for nil or a string without a UTF-8 form)
 * and calls the open-file callback with that copy. Main thread. Returns nothing. Failure: the
 * call ends there, with one log line. */
DB_API void setOpenFilename(NSString *path);
/* The menu manager's bridge: calls notifyMenuSelected with the UTF-8 forms of both strings (nil or
 * a string without a UTF-8 form counts as ""), borrowed for the call. Main thread. Failure: the
 * call ends there, with one log line. */
DB_API void _notifyMenuSelected(NSString *tag, NSString *title);
}
/* A new malloc'ed UTF-8 copy of the string: owned, free() it. Any thread. Null for nil, for a
 * string without a UTF-8 form, or when memory runs out (mangled symbol DB_MAKE_C_STRING_SYMBOL).
 * Failure: null. */
DB_API char *MakeCString(NSString *string);
#endif

/* ---- Types for dlsym --------------------------------------------------------------------- */
/* One pointer type per export, named DBFn_ and the export's name (the C++ exports by their
 * unmangled names), for a host that binds the exports by name:
 *   DBFn_getOpenFilename getOpenFilename = (DBFn_getOpenFilename)dlsym(handle, "getOpenFilename");
 * The exported variable savedFilename has DBVar_savedFilename, the type of its address.
 * DesktopBridgeLoader.h resolves them all into one struct. The three exports that take an
 * NSString take a DBStringObject: NSString * in Objective-C, an object pointer (id) in C. */
#if defined(__OBJC__)
@class NSString;
typedef NSString *DBStringObject;
#else
typedef struct objc_object *DBStringObject;
#endif

#ifdef __cplusplus
extern "C" {
#endif
typedef int (*DBFn_attachHostClasses)(const char *delegateClassName, const char *viewClassName);

typedef void (*DBFn_setMenuCallback)(DBMenuCallback callback);
typedef void (*DBFn_notifyMenuSelected)(const char *tag, const char *title);
typedef void (*DBFn_setDragDropCallback)(DBDragEnterCallback enter, DBDragExitCallback exit, DBDragDropCallback drop);
typedef void (*DBFn_notifyDragEnter)(void);
typedef void (*DBFn_notifyDragExit)(void);
typedef void (*DBFn_notifyDragDrop)(int x, int y, const char *paths);
typedef void (*DBFn_setOpenFileCallback)(DBOpenFileCallback callback);
typedef void (*DBFn_setOpenFilename)(DBStringObject path);
typedef const char *(*DBFn_getOpenFilename)(void);
typedef char **DBVar_savedFilename;
typedef char *(*DBFn_MakeCString)(DBStringObject string); /* symbol DB_MAKE_C_STRING_SYMBOL */

typedef void (*DBFn_setWindowTitle)(const char *title);
typedef float (*DBFn_getScaleFactor)(void);
typedef void (*DBFn_bringToFront)(void);
typedef void (*DBFn_launchApp)(void);
typedef bool (*DBFn_trashFile)(const char *path);
typedef char *(*DBFn_getUUID)(void);
typedef char *(*DBFn_getAppVersion)(void);
typedef void (*DBFn_setAutoRestore)(void); /* symbol DB_SET_AUTO_RESTORE_SYMBOL */
typedef int (*DBFn_createProcess)(const char *launchPath, const char *arguments, const char *workingDirectory,
                                  bool waitForExit, char **output);

typedef const char *(*DBFn_DialogOpenFilePanel)(const char *title, const char *directory, const char *filters,
                                                bool multiselect);
typedef void (*DBFn_DialogOpenFilePanelAsync)(const char *title, const char *directory, const char *filters,
                                              bool multiselect, DBDialogCallback callback);
typedef const char *(*DBFn_DialogOpenFolderPanel)(const char *title, const char *directory, bool multiselect);
typedef void (*DBFn_DialogOpenFolderPanelAsync)(const char *title, const char *directory, bool multiselect,
                                                DBDialogCallback callback);
typedef const char *(*DBFn_DialogSaveFilePanel)(const char *title, const char *directory, const char *defaultName,
                                                const char *filters);
typedef void (*DBFn_DialogSaveFilePanelAsync)(const char *title, const char *directory, const char *defaultName,
                                              const char *filters, DBDialogCallback callback);

typedef bool (*DBFn_addMenuItem)(int menuTag, int subMenuTag, const char *title, int tag, const char *keyEquivalent,
                                 int index, bool isSubMenu);
typedef bool (*DBFn_removeMenuItem)(int menuTag, int subMenuTag, int itemTag);
typedef void (*DBFn_removeAllMenuItems)(int menuTag, int subMenuTag);
typedef void (*DBFn_setMenuItemEnabled)(int menuTag, int subMenuTag, int itemTag, bool enabled);
typedef void (*DBFn_setMenuItemChecked)(int menuTag, int subMenuTag, int itemTag, bool checked);
typedef bool (*DBFn_isMenuItemChecked)(int menuTag, int subMenuTag, int itemTag);
typedef void (*DBFn_setMenuItemText)(int menuTag, int subMenuTag, int itemTag, const char *text);
typedef void (*DBFn__notifyMenuSelected)(DBStringObject tag, DBStringObject title);
#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DESKTOPBRIDGE_H */
