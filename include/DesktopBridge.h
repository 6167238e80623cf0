/*
 * DesktopBridge: desktop facilities for a host application, loaded as a plug-in bundle.
 *
 * The host loads DesktopBridge.bundle into its own process (NSBundle, or dlopen of the binary
 * inside it), resolves the functions below by name (dlsym) and calls them with plain C values.
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

/* ---- Callback types ---------------------------------------------------------------------- */

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

/* Registers the menu callback (null turns it off). Main thread, or before menus are used. */
DB_API void setMenuCallback(DBMenuCallback callback);
/* Calls the menu callback with both strings unchanged, if one is registered. Main thread. */
DB_API void notifyMenuSelected(const char *tag, const char *title);
/* Registers all three drag callbacks at once; a null pointer turns that one off. Main thread. */
DB_API void setDragDropCallback(DBDragEnterCallback enter, DBDragExitCallback exit, DBDragDropCallback drop);
/* Call the matching drag callback with the values unchanged, if registered. Main thread. */
DB_API void notifyDragEnter(void);
DB_API void notifyDragExit(void);
DB_API void notifyDragDrop(int x, int y, const char *paths);
/* Registers the open-file callback (null turns it off). Main thread. */
DB_API void setOpenFileCallback(DBOpenFileCallback callback);
/* The path of the most recent open-file request, or null before the first one. The plug-in owns
 * it and never frees it: it stays readable for the life of the process. Any thread. */
DB_API const char *getOpenFilename(void);
/* The same pointer as getOpenFilename, as an exported variable. */
DB_API extern char *savedFilename;

/* ---- Window, application and system services --------------------------------------------- */

/* Sets the main window's title; does nothing for null or when there is no main window. */
DB_API void setWindowTitle(const char *title);
/* Backing scale factor of the first window (of the main screen when there is no window; 1.0
 * when there is neither). */
DB_API float getScaleFactor(void);
/* Activates the application, even when another one is frontmost, and de-miniaturizes its first
 * window, if it has one. */
DB_API void bringToFront(void);
/* Starts another instance of the running application (its bundle's executable, without
 * arguments) and returns without waiting for it. A failed launch is not reported. */
DB_API void launchApp(void);
/* Moves the item at path to the Trash (a symbolic link itself, never its target): true when
 * moved; false for null or "", a missing item or any failure (nothing is changed then). */
DB_API bool trashFile(const char *path);
/* Hardware UUID, 8-4-4-4-12 upper case. Owned (free it); null when it cannot be read. */
DB_API char *getUUID(void);
/* The application's CFBundleVersion. Owned (free it); null when the key is missing or not text. */
DB_API char *getAppVersion(void);

/* Runs launchPath with arguments joined by DB_LIST_SEPARATOR ("" is one empty argument), never
 * through a shell. workingDirectory null or "" keeps the host's. Detached (waitForExit false):
 * returns 0 once launched and leaves *output untouched; the child is collected when it exits.
 * Waiting: returns the exit status (the signal number for a child killed by a signal) once the
 * child has exited, reading its output meanwhile, and, when output is not null, stores the
 * combined stdout+stderr as an owned string (null when it is not valid UTF-8; it ends at the
 * first NUL byte). A process the child leaves running does not delay the return. Launch failure
 * (no or unusable path, a working directory that cannot be entered, null arguments, and arguments
 * or a working directory that are not valid UTF-8): -1, with the exception's description in
 * *output (owned). The child gets no descriptor of the host other
 * than 0-2, default signal handling and an empty signal mask. Any thread, several at once. */
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
 * Results are borrowed: the chosen path(s) joined by DB_LIST_SEPARATOR, "" when cancelled or
 * failed. Synchronous forms run the panel modally and must be called on the main thread (off it
 * they log one line and return ""). Asynchronous forms return at once from any thread, before the
 * panel shows; the panel runs on the main thread and the callback registered by the latest
 * asynchronous request (open or save) is called there once per request, so a request made while
 * another is pending takes over the earlier one's result too. A null callback drops the result. */
DB_API const char *DialogOpenFilePanel(const char *title, const char *directory, const char *filters,
                                       bool multiselect);
DB_API void DialogOpenFilePanelAsync(const char *title, const char *directory, const char *filters,
                                     bool multiselect, DBDialogCallback callback);
DB_API const char *DialogOpenFolderPanel(const char *title, const char *directory, bool multiselect);
DB_API void DialogOpenFolderPanelAsync(const char *title, const char *directory, bool multiselect,
                                       DBDialogCallback callback);
DB_API const char *DialogSaveFilePanel(const char *title, const char *directory, const char *defaultName,
                                       const char *filters);
DB_API void DialogSaveFilePanelAsync(const char *title, const char *directory, const char *defaultName,
                                     const char *filters, DBDialogCallback callback);

/* ---- Menu manager ------------------------------------------------------------------------ */
/* A target menu is named by (menuTag, subMenuTag): (0, 0) the main menu, (0, 1) the dock menu,
 * (0, s) the submenu of the main-menu item tagged s, (m, s) the submenu of the item tagged s in
 * the submenu of the main-menu item tagged m. Items are found by tag (the first one carrying it).
 * The first menu call creates the manager (and registers the main window's content view, if there
 * is a main window then, for file drags). Null or non-UTF-8 strings count as "". Main thread.
 * The menu callback hears the item's tag as "%ld" text and its current title when an item is
 * chosen, and the holding item's tag with the submenu's own title (as created) when a managed
 * submenu opens. */

/* Adds an item (an empty title adds a separator) at index (negative or past the end: appended);
 * isSubMenu gives it a managed submenu that reports its opening. False when no target menu. */
DB_API bool addMenuItem(int menuTag, int subMenuTag, const char *title, int tag, const char *keyEquivalent,
                        int index, bool isSubMenu);
/* Removes the first item tagged itemTag: false when the menu or the item is missing. */
DB_API bool removeMenuItem(int menuTag, int subMenuTag, int itemTag);
/* Empties the target menu, if there is one. */
DB_API void removeAllMenuItems(int menuTag, int subMenuTag);
DB_API void setMenuItemEnabled(int menuTag, int subMenuTag, int itemTag, bool enabled);
DB_API void setMenuItemChecked(int menuTag, int subMenuTag, int itemTag, bool checked);
/* True only when the item exists and is checked (not for the mixed state). */
DB_API bool isMenuItemChecked(int menuTag, int subMenuTag, int itemTag);
/* Retitles the item only (a submenu keeps its own title). */
DB_API void setMenuItemText(int menuTag, int subMenuTag, int itemTag, const char *text);

#ifdef __cplusplus
} /* extern "C" */

/* Asks the window system to save and restore the main window's frame under the window's
 * represented file name, used as it is ("" stops the saving), and stops its window controller
 * cascading new windows; does nothing when there is no main window (mangled symbol
 * DB_SET_AUTO_RESTORE_SYMBOL). Main thread. */
DB_API void setAutoRestore();
#endif

#if defined(__cplusplus) && defined(__OBJC__)
@class NSString;
extern "C" {
/* Remembers a copy of path as the open-file path and calls the open-file callback with it. */
DB_API void setOpenFilename(NSString *path);
/* The menu manager's bridge: calls notifyMenuSelected with the UTF-8 forms of both strings. */
DB_API void _notifyMenuSelected(NSString *tag, NSString *title);
}
/* A new malloc'ed UTF-8 copy of the string (owned: free it); null for nil, for a string without
 * a UTF-8 form, or when memory runs out (mangled symbol DB_MAKE_C_STRING_SYMBOL). Any thread. */
DB_API char *MakeCString(NSString *string);
#endif

#endif /* DESKTOPBRIDGE_H */
