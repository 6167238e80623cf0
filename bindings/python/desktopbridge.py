"""DesktopBridge for Python hosts: the bundle's exports through ctypes, standard library only.

    import desktopbridge
    bridge = desktopbridge.load("/path/to/DesktopBridge.bundle")
    bridge.set_menu_callback(lambda tag, title: print("chosen", tag, title))
    paths = bridge.dialog_open_file_panel("Pick a song", "", "Songs;mp3,ogg|All files;*", True)

Rules this module keeps for its caller:
  * Strings go in as UTF-8 (None passes a null pointer, which the bundle takes as ""). A string
    with a NUL character, or a list item with the list separator 0x1C, raises ValueError: C would
    cut it short or split it without a word.
  * Borrowed results (dialog results, callback texts, getOpenFilename) are copied into Python
    strings at once and never freed. Owned results (getUUID, getAppVersion, createProcess output)
    are copied and then released with the process's free (the one the bundle's malloc pairs with).
  * Every callback is kept alive by this object for as long as the bundle holds it: registering
    another one (or None) replaces it, and the old one is let go only after the bundle has the new
    one.
  * Thread rules are the bundle's: each method says where it may be called. "Main thread" means
    the thread that runs the application's event loop; callbacks arrive there.

Left out: MakeCString, setOpenFilename and _notifyMenuSelected take platform string objects
(NSString), which a ctypes caller cannot make; getOpenFilename and the open-file callback give
their results, and notify_menu_selected reaches the menu callback.
"""

import ctypes
import os
import sys

LIST_SEPARATOR = "\x1c"

# Where the binary sits inside DesktopBridge.bundle on each platform.
if sys.platform == "darwin":
    BUNDLE_BINARY_SUBPATH = "Contents/MacOS/DesktopBridge"
else:
    BUNDLE_BINARY_SUBPATH = "DesktopBridge"

SET_AUTO_RESTORE_SYMBOL = "_Z14setAutoRestorev"

# Callback types; one made without arguments is a null pointer.
MenuCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
DragEnterCallback = ctypes.CFUNCTYPE(None)
DragExitCallback = ctypes.CFUNCTYPE(None)
DragDropCallback = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int, ctypes.c_void_p)
OpenFileCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
DialogCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p)


def _c_free():
    """The free that pairs with the malloc the bundle calls: the one the process's global symbols
    give. Not libc's own by name: a host whose allocator replaces malloc (a sanitizer, jemalloc)
    would have its blocks freed by the wrong allocator."""
    free = ctypes.CDLL(None).free
    free.argtypes = [ctypes.c_void_p]
    free.restype = None
    return free


def _encode(text):
    if text is None:
        return None
    if "\0" in text:
        raise ValueError("a string for the bundle cannot hold a NUL character: %r" % (text,))
    return text.encode("utf-8")


def _join(items):
    for item in items:
        if LIST_SEPARATOR in item:
            raise ValueError("a list item cannot hold the list separator 0x1C: %r" % (item,))
    return _encode(LIST_SEPARATOR.join(items))


def _borrowed(pointer):
    """A copy of a borrowed string (None for a null pointer); the bundle keeps the original."""
    if not pointer:
        return None
    return ctypes.string_at(pointer).decode("utf-8", "surrogateescape")


def _split(pointer):
    text = _borrowed(pointer)
    return text.split(LIST_SEPARATOR) if text else []


class DesktopBridge:
    """The loaded bundle. Make one per process with load()."""

    def __init__(self, binary_path):
        self._lib = ctypes.CDLL(binary_path, mode=os.RTLD_NOW | os.RTLD_LOCAL)
        self._free = _c_free()
        # The callback objects the bundle holds: slot -> ctypes function object(s).
        self._held = {}
        self._declare()

    def _fn(self, name, restype, *argtypes):
        function = getattr(self._lib, name)
        function.restype = restype
        function.argtypes = list(argtypes)
        return function

    def _declare(self):
        c_int, c_bool, c_float, c_void_p, c_char_p = (ctypes.c_int, ctypes.c_bool, ctypes.c_float,
                                                      ctypes.c_void_p, ctypes.c_char_p)
        f = self._fn
        self._setMenuCallback = f("setMenuCallback", None, MenuCallback)
        self._notifyMenuSelected = f("notifyMenuSelected", None, c_char_p, c_char_p)
        self._setDragDropCallback = f("setDragDropCallback", None, DragEnterCallback, DragExitCallback,
                                      DragDropCallback)
        self._notifyDragEnter = f("notifyDragEnter", None)
        self._notifyDragExit = f("notifyDragExit", None)
        self._notifyDragDrop = f("notifyDragDrop", None, c_int, c_int, c_char_p)
        self._setOpenFileCallback = f("setOpenFileCallback", None, OpenFileCallback)
        self._getOpenFilename = f("getOpenFilename", c_void_p)
        self._setWindowTitle = f("setWindowTitle", None, c_char_p)
        self._getScaleFactor = f("getScaleFactor", c_float)
        self._bringToFront = f("bringToFront", None)
        self._launchApp = f("launchApp", None)
        self._trashFile = f("trashFile", c_bool, c_char_p)
        self._getUUID = f("getUUID", c_void_p)
        self._getAppVersion = f("getAppVersion", c_void_p)
        self._setAutoRestore = f(SET_AUTO_RESTORE_SYMBOL, None)
        self._createProcess = f("createProcess", c_int, c_char_p, c_char_p, c_char_p, c_bool,
                                ctypes.POINTER(c_void_p))
        self._DialogOpenFilePanel = f("DialogOpenFilePanel", c_void_p, c_char_p, c_char_p, c_char_p, c_bool)
        self._DialogOpenFilePanelAsync = f("DialogOpenFilePanelAsync", None, c_char_p, c_char_p, c_char_p,
                                           c_bool, DialogCallback)
        self._DialogOpenFolderPanel = f("DialogOpenFolderPanel", c_void_p, c_char_p, c_char_p, c_bool)
        self._DialogOpenFolderPanelAsync = f("DialogOpenFolderPanelAsync", None, c_char_p, c_char_p, c_bool,
                                             DialogCallback)
        self._DialogSaveFilePanel = f("DialogSaveFilePanel", c_void_p, c_char_p, c_char_p, c_char_p, c_char_p)
        self._DialogSaveFilePanelAsync = f("DialogSaveFilePanelAsync", None, c_char_p, c_char_p, c_char_p,
                                           c_char_p, DialogCallback)
        self._addMenuItem = f("addMenuItem", c_bool, c_int, c_int, c_char_p, c_int, c_char_p, c_int, c_bool)
        self._removeMenuItem = f("removeMenuItem", c_bool, c_int, c_int, c_int)
        self._removeAllMenuItems = f("removeAllMenuItems", None, c_int, c_int)
        self._setMenuItemEnabled = f("setMenuItemEnabled", None, c_int, c_int, c_int, c_bool)
        self._setMenuItemChecked = f("setMenuItemChecked", None, c_int, c_int, c_int, c_bool)
        self._isMenuItemChecked = f("isMenuItemChecked", c_bool, c_int, c_int, c_int)
        self._setMenuItemText = f("setMenuItemText", None, c_int, c_int, c_int, c_char_p)

    def _owned(self, pointer):
        """A copy of an owned string, whose block is then freed (None for a null pointer)."""
        if not pointer:
            return None
        try:
            return ctypes.string_at(pointer).decode("utf-8", "surrogateescape")
        finally:
            self._free(pointer)

    def _hold(self, slot, objects, register):
        """Registers new callback objects, then lets go of the ones they replace."""
        register()
        if slot == "dialog":
            # An asynchronous request may come from another thread just as the main thread takes the
            # callback it replaces to call it: that one is kept for one more request.
            self._held["dialog before"] = self._held.get("dialog")
        self._held[slot] = objects

    # ---- Host callbacks -------------------------------------------------------------------

    def set_menu_callback(self, callback):
        """callback(tag: str, title: str), or None to turn it off. tag is the item's tag as decimal
        text (int(tag) gives the number). Main thread, or before menus are used."""
        native = MenuCallback(lambda tag, title: callback(_borrowed(tag) or "", _borrowed(title) or "")) \
            if callback else MenuCallback()
        self._hold("menu", native, lambda: self._setMenuCallback(native))

    def notify_menu_selected(self, tag, title):
        """Calls the menu callback with tag (an int or text) and title. Main thread."""
        self._notifyMenuSelected(_encode(str(tag)), _encode(title))

    def set_drag_drop_callback(self, enter=None, exit=None, drop=None):
        """enter(), exit() and drop(x: int, y: int, paths: list[str]); None turns one off. x and y
        are the drop point in backing pixels of the receiving window. Main thread."""
        natives = (DragEnterCallback(lambda: enter()) if enter else DragEnterCallback(),
                   DragExitCallback(lambda: exit()) if exit else DragExitCallback(),
                   DragDropCallback(lambda x, y, paths: drop(x, y, _split(paths)))
                   if drop else DragDropCallback())
        self._hold("drag", natives, lambda: self._setDragDropCallback(*natives))

    def notify_drag_enter(self):
        """Calls the drag-enter callback. Main thread."""
        self._notifyDragEnter()

    def notify_drag_exit(self):
        """Calls the drag-exit callback. Main thread."""
        self._notifyDragExit()

    def notify_drag_drop(self, x, y, paths):
        """Calls the drop callback with x, y and the paths (a list of str). Main thread."""
        self._notifyDragDrop(x, y, _join(paths))

    def set_open_file_callback(self, callback):
        """callback(path: str) for each request of the system to open a file, or None to turn it
        off. Main thread."""
        native = OpenFileCallback(lambda path: callback(_borrowed(path) or "")) \
            if callback else OpenFileCallback()
        self._hold("open", native, lambda: self._setOpenFileCallback(native))

    def get_open_filename(self):
        """The path of the most recent open-file request, or None before the first. Any thread."""
        return _borrowed(self._getOpenFilename())

    def saved_filename(self):
        """The exported variable savedFilename: the same path as get_open_filename. Any thread."""
        return _borrowed(ctypes.c_void_p.in_dll(self._lib, "savedFilename").value)

    # ---- Window, application and system services -----------------------------------------

    def set_window_title(self, title):
        """Sets the main window's title; nothing happens without a main window. Main thread."""
        self._setWindowTitle(_encode(title))

    def get_scale_factor(self):
        """The first window's backing scale factor (the main screen's, or 1.0). Main thread."""
        return float(self._getScaleFactor())

    def bring_to_front(self):
        """Activates the application and de-miniaturizes its first window. Main thread."""
        self._bringToFront()

    def launch_app(self):
        """Starts another instance of the application without waiting for it. Main thread."""
        self._launchApp()

    def trash_file(self, path):
        """Moves the item at path to the Trash: True when moved. Main thread."""
        return bool(self._trashFile(_encode(path)))

    def get_uuid(self):
        """The hardware UUID (8-4-4-4-12, upper case), or None when it cannot be read. Main thread."""
        return self._owned(self._getUUID())

    def get_app_version(self):
        """The application's CFBundleVersion, or None when it has none. Main thread."""
        return self._owned(self._getAppVersion())

    def set_auto_restore(self):
        """Saves and restores the main window's frame under its represented file name. Main thread."""
        self._setAutoRestore()

    def create_process(self, launch_path, arguments, working_directory=None, wait_for_exit=True):
        """Runs launch_path with the arguments (a non-empty list of str; never through a shell).
        Returns (status, output): waiting, the exit status (the signal number for a child killed by
        a signal) and the combined stdout+stderr (None when it is not UTF-8); detached, (0, None)
        once launched. A failed launch gives (-1, description). Any thread, several at once."""
        if isinstance(arguments, str) or not arguments:
            raise ValueError("arguments must be a non-empty list of str (the bundle cannot pass none)")
        output = ctypes.c_void_p()
        status = self._createProcess(_encode(launch_path), _join(arguments), _encode(working_directory),
                                     bool(wait_for_exit), ctypes.byref(output))
        return status, self._owned(output.value)

    # ---- File dialogs --------------------------------------------------------------------
    # filters is a filter specification: "Name;ext1,ext2" entries joined by "|". Open results are
    # lists of paths ([] when cancelled), save results one path ("" when cancelled). Synchronous
    # forms run the panel modally: main thread only. Asynchronous forms return at once from any
    # thread; the panel runs on the main thread, which calls the callback of the latest
    # asynchronous request (open or save) once per request. None drops the result.

    def dialog_open_file_panel(self, title, directory, filters, multiselect=False):
        """Runs an open panel modally: the chosen paths, [] when cancelled. Main thread only."""
        return _split(self._DialogOpenFilePanel(_encode(title), _encode(directory), _encode(filters),
                                                bool(multiselect)))

    def dialog_open_folder_panel(self, title, directory, multiselect=False):
        """Runs a folder panel modally: the chosen paths, [] when cancelled. Main thread only."""
        return _split(self._DialogOpenFolderPanel(_encode(title), _encode(directory), bool(multiselect)))

    def dialog_save_file_panel(self, title, directory, default_name, filters):
        """Runs a save panel modally: the chosen path, "" when cancelled. Main thread only."""
        return _borrowed(self._DialogSaveFilePanel(_encode(title), _encode(directory), _encode(default_name),
                                                   _encode(filters))) or ""

    def _dialog_callback(self, callback, convert):
        native = DialogCallback(lambda result: callback(convert(result))) \
            if callback else DialogCallback()
        return native

    def dialog_open_file_panel_async(self, title, directory, filters, multiselect, callback):
        """Returns at once, from any thread; callback(paths: list[str]) on the main thread."""
        native = self._dialog_callback(callback, _split)
        self._hold("dialog", native, lambda: self._DialogOpenFilePanelAsync(
            _encode(title), _encode(directory), _encode(filters), bool(multiselect), native))

    def dialog_open_folder_panel_async(self, title, directory, multiselect, callback):
        """Returns at once, from any thread; callback(paths: list[str]) on the main thread."""
        native = self._dialog_callback(callback, _split)
        self._hold("dialog", native, lambda: self._DialogOpenFolderPanelAsync(
            _encode(title), _encode(directory), bool(multiselect), native))

    def dialog_save_file_panel_async(self, title, directory, default_name, filters, callback):
        """Returns at once, from any thread; callback(path: str) on the main thread, "" when
        cancelled."""
        native = self._dialog_callback(callback, lambda result: _borrowed(result) or "")
        self._hold("dialog", native, lambda: self._DialogSaveFilePanelAsync(
            _encode(title), _encode(directory), _encode(default_name), _encode(filters), native))

    # ---- Menus ---------------------------------------------------------------------------
    # A menu is named by (menu_tag, sub_menu_tag): (0, 0) the main menu, (0, 1) the dock menu,
    # (0, s) the submenu of the main-menu item tagged s, (m, s) the submenu of the item tagged s in
    # the submenu of the main-menu item tagged m. Main thread.

    def add_menu_item(self, menu_tag, sub_menu_tag, title, tag, key_equivalent="", index=-1, is_sub_menu=False):
        """Adds an item ("" title: a separator) at index (-1: appended). False without the menu.
        Main thread."""
        return bool(self._addMenuItem(menu_tag, sub_menu_tag, _encode(title), tag, _encode(key_equivalent),
                                      index, bool(is_sub_menu)))

    def remove_menu_item(self, menu_tag, sub_menu_tag, item_tag):
        """Removes the first item tagged item_tag: False when the menu or item is missing. Main thread."""
        return bool(self._removeMenuItem(menu_tag, sub_menu_tag, item_tag))

    def remove_all_menu_items(self, menu_tag, sub_menu_tag):
        """Empties the menu, if there is one. Main thread."""
        self._removeAllMenuItems(menu_tag, sub_menu_tag)

    def set_menu_item_enabled(self, menu_tag, sub_menu_tag, item_tag, enabled):
        """Main thread."""
        self._setMenuItemEnabled(menu_tag, sub_menu_tag, item_tag, bool(enabled))

    def set_menu_item_checked(self, menu_tag, sub_menu_tag, item_tag, checked):
        """Main thread."""
        self._setMenuItemChecked(menu_tag, sub_menu_tag, item_tag, bool(checked))

    def is_menu_item_checked(self, menu_tag, sub_menu_tag, item_tag):
        """True only when the item exists and is checked. Main thread."""
        return bool(self._isMenuItemChecked(menu_tag, sub_menu_tag, item_tag))

    def set_menu_item_text(self, menu_tag, sub_menu_tag, item_tag, text):
        """Retitles the item (a submenu keeps its own title). Main thread."""
        self._setMenuItemText(menu_tag, sub_menu_tag, item_tag, _encode(text))


def load(path):
    """Loads the bundle: path is DesktopBridge.bundle (a directory) or the binary inside it. Load it
    on the main thread, after the host's own classes exist."""
    if os.path.isdir(path):
        path = os.path.join(path, BUNDLE_BINARY_SUBPATH)
    return DesktopBridge(path)
