// What the managed test hosts share: the host's own classes and main window, and small C functions
// that test code in a managed runtime calls in the host executable (ctypes.CDLL(None) in Python,
// DllImport("__Internal") under Mono) to play the user: answer the next panel, choose a menu item,
// drop files, ask the application to open a file, and read back what the bundle did.
#ifndef DB_MANAGED_HOST_CONTROLS_H
#define DB_MANAGED_HOST_CONTROLS_H

#include <stdbool.h>

#define HOST_EXPORT extern "C" __attribute__((visibility("default")))

// Makes the shared application with the host's delegate and a main window whose content view is a
// "PlayerWindowView", and installs the uncaught-exception handler; the bundle is not loaded yet.
// False (with the reason printed) when there is no display to run on.
bool StartManagedHost(void);

// The next file panel: selects the paths (joined by 0x1C, null for none) in an open panel, types
// name (null: leaves it) in a save panel, picks pop-up entry pick first (-1: none), then presses OK
// (ok) or Cancel.
HOST_EXPORT void HostQueuePanelAnswer(const char *paths, const char *name, int pick, bool ok);
HOST_EXPORT int HostPanelsAnswered(void);
HOST_EXPORT int HostUnexpectedPanels(void);
// Why this platform's panels cannot be made to select files, or null when they can.
HOST_EXPORT const char *HostPanelsCannotSelect(void);
// Runs the main run loop until done() returns non-zero or seconds pass; returns done()'s last answer.
HOST_EXPORT bool HostRunMainLoopUntil(int (*done)(void), double seconds);
// Chooses the first item tagged tag in the main menu or the dock menu, at any depth, as a click
// does; false when there is none.
HOST_EXPORT bool HostChooseMenuItem(int tag);
// Opens the submenu of the first item tagged tag in the main menu; false when there is none.
HOST_EXPORT bool HostOpenSubmenu(int tag);
// A drag of files (paths joined by 0x1C) over the main view at (x, y) in window coordinates: enters
// and drops (drop) or leaves. Returns what performDragOperation: answered (false when left).
HOST_EXPORT bool HostDragFiles(const char *paths, double x, double y, bool drop);
// Asks the application delegate to open path, as the system does.
HOST_EXPORT bool HostOpenFile(const char *path);
// Makes the host's window the key and main window again (a panel that closed may have left none).
HOST_EXPORT void HostMakeMainWindow(void);
// The main window's title (borrowed, valid until the next call).
HOST_EXPORT const char *HostMainWindowTitle(void);
HOST_EXPORT void HostDeactivate(void);
HOST_EXPORT bool HostIsActive(void);
// Bytes of heap in use in this process, as the platform's allocator counts them.
HOST_EXPORT long long HostHeapBytes(void);

#endif
