"""DesktopBridge for Python hosts: the bundle's exports through ctypes, standard library only.

    import desktopbridge
    bridge = desktopbridge.load("/path/to/DesktopBridge.bundle")
    bridge.set_menu_callback(lambda tag, title: print("chosen", tag, title))
    paths = bridge.dialog_open_file_panel("Pick a song", "", "Songs;mp3,ogg|All files;*", True)

Importing the installed module: it is one file, installed under the package's
share/DesktopBridge/bindings/python/. Put that folder on the module path (PYTHONPATH, or
sys.path.insert(0, "<prefix>/share/DesktopBridge/bindings/python")) and import desktopbridge; or
copy the file next to the host's own modules. The package says where the folder is: pkg-config's
variable bindingsdir (pkg-config --variable=bindingsdir desktopbridge; for a custom prefix with
PKG_CONFIG_PATH=<prefix>/lib/pkgconfig) and CMake's DesktopBridge_BINDINGS_DIR, each naming the
bindings folder that holds python/. __version__ is the release of DesktopBridge it was made with;
use it with a bundle of the same release.

What needs a shared application or a display. The bundle works on the application the host made
([NSApplication sharedApplication], with its event loop on the main thread):
  * Needs neither, and works from a plain script: create_process, get_uuid, trash_file,
    get_app_version (None unless the process is an application bundle with a CFBundleVersion),
    get_open_filename, saved_filename, and registering and notifying callbacks.
  * Needs the shared application: the menu functions (they edit its main menu and its dock menu:
    without one, add_menu_item returns False) and set_window_title, bring_to_front,
    set_auto_restore (they act on its main window: without one they do nothing).
    launch_app needs no shared application but an application bundle: it starts the main
    bundle's executable again, and a plain script's main bundle is its interpreter's.
  * Needs a display as well (the window server on macOS, an X display on GNUstep): the file
    dialogs, whose panels are windows run modally in the application's event loop, and
    get_scale_factor, which reads a window's or the main screen's backing scale (1.0 without).
    On GNUstep the shared application itself needs the display: without one (DISPLAY unset or
    unreachable), [NSApplication sharedApplication] raises NSWindowServerCommunicationException.
  A plain script, with no application and no display (examples/python/plain_script.py is a whole
  one):

    import tempfile, desktopbridge
    bridge = desktopbridge.load("/path/to/DesktopBridge.bundle")
    print(desktopbridge.__version__, bridge.get_uuid())
    status, output = bridge.create_process("/bin/echo", ["hello"])
    with tempfile.NamedTemporaryFile(delete=False) as scratch:
        pass
    bridge.trash_file(scratch.name)   # moves it to the user's Trash

Rules this module keeps for its caller:
  * Strings go in as UTF-8; None passes a null pointer, which the bundle takes as "" (except where
    a method says what null means). A string with a NUL character, or a list item with the list
    separator 0x1C, raises ValueError: C would cut it short or split it without a word. Paths may
    be str, bytes or os.PathLike. An argument of the wrong type raises TypeError naming the
    parameter; an int that does not fit a C int raises IntOutOfRange (a TypeError and an
    OverflowError).
  * Borrowed results (dialog results, callback texts, getOpenFilename) are copied into Python
    strings at once and never freed. Owned results (getUUID, getAppVersion, createProcess output)
    are copied and then released with the process's free (the one the bundle's malloc pairs with).
  * Callbacks live as long as the process: the bundle's slots do, and the bundle cannot be
    unloaded. This module holds every callback the bundle may call, module-wide (not in the
    DesktopBridge object, which may be dropped), under one lock, so that registrations from several
    threads always leave held what the bundle holds. Registering another one (or None) replaces
    it; the replaced one is let go only after the bundle has the new one, and only once the one
    after it has come (it may be running while it is replaced).
  * A callback that raises: the exception is printed to standard error with its traceback
    ("desktopbridge: a callback raised ...") and goes no further: it cannot unwind through the
    bundle's native frames. The event counts as handled.
  * Thread rules are the bundle's: each method says where it may be called. "Main thread" means
    the thread that runs the application's event loop; callbacks arrive there.

Left out: MakeCString, setOpenFilename and _notifyMenuSelected take platform string objects
(NSString), which a ctypes caller cannot make; getOpenFilename and the open-file callback give
their results, and notify_menu_selected reaches the menu callback.
"""

import ctypes
import operator
import os
import sys
import threading
import traceback

__version__ = "1.0.0"

LIST_SEPARATOR = "\x1c"

# attach_host_classes' result: one bit per handler, in the order the bundle installs them.
HANDLER_DOCK_MENU = 0x01      # applicationDockMenu:      delegate class
HANDLER_OPEN_FILE = 0x02      # application:openFile:     delegate class
HANDLER_DRAG_ENTERED = 0x04   # draggingEntered:          view class
HANDLER_DRAG_EXITED = 0x08    # draggingExited:           view class
HANDLER_PREPARE_DRAG = 0x10   # prepareForDragOperation:  view class
HANDLER_PERFORM_DRAG = 0x20   # performDragOperation:     view class
HANDLERS_ALL = 0x3F

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

C_INT_MIN, C_INT_MAX = -2 ** 31, 2 ** 31 - 1


class IntOutOfRange(OverflowError, TypeError):
    """An int argument that a C int cannot hold (C would cut it silently)."""


class NotAList(TypeError, ValueError):
    """A str given where a list of str belongs (it would be taken letter by letter)."""


# ---- What the bundle holds, for the life of the process ---------------------------------------

_lock = threading.RLock()
# slot -> the ctypes function object(s) the bundle holds now; slot + " before" -> the ones they
# replaced, which may still be running (a callback may replace itself).
_held = {}


def _hold(slot, objects, register):
    """Registers new callback objects with the bundle, then lets go of the ones they replace."""
    with _lock:
        register()
        _held[slot + " before"] = _held.get(slot)
        _held[slot] = objects


def _guarded(call, *arguments):
    """Calls a host callback; an exception is printed and goes no further (see the module's rules)."""
    try:
        call(*arguments)
    except Exception:  # noqa: BLE001 - nothing may unwind into the bundle
        sys.stderr.write("desktopbridge: a callback raised; the exception goes no further:\n")
        traceback.print_exc()


# The asynchronous dialogs share one slot in the bundle: the result of every panel goes to the
# callback of the latest asynchronous request (open, folder or save), also a result of a panel
# requested before it. The bundle always holds the one dispatcher below, made once for the
# process; the dispatcher calls the latest request's callback with the result in that callback's
# own shape.
_dialog_latest = [None]  # (callback, shape) of the latest request, or None: results are dropped


def _deliver_dialog_result(result):
    latest = _dialog_latest[0]
    if latest is not None:
        callback, shape = latest
        _guarded(lambda: callback(shape(result)))


_dialog_dispatcher = DialogCallback(_deliver_dialog_result)


# ---- Arguments --------------------------------------------------------------------------------

def _type_name(value):
    return type(value).__name__


def _encode(text, name="text"):
    """str or None -> UTF-8 bytes or None."""
    if text is None:
        return None
    if not isinstance(text, str):
        raise TypeError("%s must be a str or None, not %s" % (name, _type_name(text)))
    if "\0" in text:
        raise ValueError("%s cannot hold a NUL character: %r" % (name, text))
    return text.encode("utf-8")


def _path(path, name):
    """str, bytes, os.PathLike or None -> bytes or None (a str path as UTF-8)."""
    if path is None:
        return None
    try:
        path = os.fspath(path)
    except TypeError:
        raise TypeError("%s must be a path (str, bytes or os.PathLike) or None, not %s"
                        % (name, _type_name(path))) from None
    if isinstance(path, bytes):
        if b"\0" in path:
            raise ValueError("%s cannot hold a NUL byte: %r" % (name, path))
        return path
    return _encode(path, name)


def _join(items, name):
    """A list (or other iterable) of str or os.PathLike, or None -> the items joined by 0x1C."""
    if items is None:
        return None
    if isinstance(items, (str, bytes)):
        raise NotAList("%s must be a list of str, not a single %s" % (name, _type_name(items)))
    try:
        items = list(items)
    except TypeError:
        raise TypeError("%s must be a list of str, not %s" % (name, _type_name(items))) from None
    texts = []
    for item in items:
        if isinstance(item, os.PathLike):
            item = os.fspath(item)
        if not isinstance(item, str):
            raise TypeError("%s must hold only str, not %s" % (name, _type_name(item)))
        if LIST_SEPARATOR in item:
            raise ValueError("an item of %s cannot hold the list separator 0x1C: %r" % (name, item))
        texts.append(item)
    return _encode(LIST_SEPARATOR.join(texts), name)


def _int(value, name):
    """An int (or anything with __index__) that fits a C int."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError("%s must be an int, not %s" % (name, _type_name(value))) from None
    if not C_INT_MIN <= number <= C_INT_MAX:
        raise IntOutOfRange("%s must fit a C int (%d to %d): %d" % (name, C_INT_MIN, C_INT_MAX, number))
    return number


def _callback(value, name):
    if value is not None and not callable(value):
        raise TypeError("%s must be callable or None, not %s" % (name, _type_name(value)))
    return value


# ---- Results ----------------------------------------------------------------------------------

def _c_free():
    """The free that pairs with the malloc the bundle calls: the one the process's global symbols
    give. Not libc's own by name: a host whose allocator replaces malloc (a sanitizer, jemalloc)
    would have its blocks freed by the wrong allocator."""
    free = ctypes.CDLL(None).free
    free.argtypes = [ctypes.c_void_p]
    free.restype = None
    return free


def _borrowed(pointer):
    """A copy of a borrowed string (None for a null pointer); the bundle keeps the original."""
    if not pointer:
        return None
    return ctypes.string_at(pointer).decode("utf-8", "surrogateescape")


def _split(pointer):
    """Paths joined by 0x1C -> list[str]; a single path gives a one-item list, "" or null []."""
    text = _borrowed(pointer)
    return text.split(LIST_SEPARATOR) if text else []


def _one_path(pointer):
    """A result for a callback that takes one path: the path; from an open panel's result (several
    paths joined), its first; "" for nothing chosen."""
    paths = _split(pointer)
    return paths[0] if paths else ""


class DesktopBridge:
    """The loaded bundle. Make one per process with load(); what the bundle holds (its callbacks)
    does not depend on this object living."""

    def __init__(self, binary_path):
        self._lib = ctypes.CDLL(os.fspath(binary_path), mode=os.RTLD_NOW | os.RTLD_LOCAL)
        self._free = _c_free()
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
        try:
            self._attachHostClasses = f("attachHostClasses", c_int, c_char_p, c_char_p)
        except AttributeError:  # a bundle older than the export
            self._attachHostClasses = None

    def _owned(self, pointer):
        """A copy of an owned string, whose block is then freed (None for a null pointer)."""
        if not pointer:
            return None
        try:
            return ctypes.string_at(pointer).decode("utf-8", "surrogateescape")
        finally:
            self._free(pointer)

    # ---- Host classes --------------------------------------------------------------------

    def attach_host_classes(self, delegate_class_name, view_class_name):
        """Grafts the bundle's handlers onto the host's own classes, for a host whose application
        delegate and main view are not named PlayerAppDelegate and PlayerWindowView (a framework's
        or a runtime's classes): the dock menu and open-file handlers onto the delegate class, the
        four drag handlers onto the view class. None or "" skips that class. Returns the set of
        HANDLER_* bits that are the bundle's on those classes after the call (also those an earlier
        call or the load made: calling twice is safe); 0 when nothing took. Call it once the classes
        exist. Main thread; needs no shared application (it only adds methods to classes)."""
        if self._attachHostClasses is None:
            raise RuntimeError("this DesktopBridge bundle has no attachHostClasses export: it is older "
                               "than this binding (%s)" % __version__)
        return int(self._attachHostClasses(_encode(delegate_class_name, "delegate_class_name"),
                                           _encode(view_class_name, "view_class_name")))

    # ---- Host callbacks ------------------------------------------------------------------
    # Registering a callback, and the notify methods, need no shared application: they keep or
    # call the callbacks. The events that call them (menu choices, drops, open-file requests)
    # come from the shared application's event loop.

    def set_menu_callback(self, callback):
        """callback(tag: str, title: str), or None to turn it off. tag is the item's tag as decimal
        text (int(tag) gives the number). Main thread, or before menus are used. Needs no shared
        application; menu choices, which call it, come from its event loop."""
        _callback(callback, "callback")
        native = MenuCallback(lambda tag, title: _guarded(callback, _borrowed(tag) or "", _borrowed(title) or "")) \
            if callback else MenuCallback()
        _hold("menu", native, lambda: self._setMenuCallback(native))

    def notify_menu_selected(self, tag, title):
        """Calls the menu callback with tag (an int, or its text) and title. Main thread. Needs no
        shared application."""
        if not isinstance(tag, str):
            try:
                tag = str(operator.index(tag))
            except TypeError:
                raise TypeError("tag must be an int or a str, not %s" % _type_name(tag)) from None
        self._notifyMenuSelected(_encode(tag, "tag"), _encode(title, "title"))

    def set_drag_drop_callback(self, enter=None, exit=None, drop=None):
        """enter(), exit() and drop(x: int, y: int, paths: list[str]); None turns one off. x and y
        are the drop point in the receiving window's coordinates, times the main window's backing
        scale factor. The three are replaced as one set. Main thread. Needs no shared application;
        drops, which call them, come from its event loop (and need a display)."""
        for value, name in ((enter, "enter"), (exit, "exit"), (drop, "drop")):
            _callback(value, name)
        natives = (DragEnterCallback(lambda: _guarded(enter)) if enter else DragEnterCallback(),
                   DragExitCallback(lambda: _guarded(exit)) if exit else DragExitCallback(),
                   DragDropCallback(lambda x, y, paths: _guarded(drop, x, y, _split(paths)))
                   if drop else DragDropCallback())
        _hold("drag", natives, lambda: self._setDragDropCallback(*natives))

    def notify_drag_enter(self):
        """Calls the drag-enter callback. Main thread."""
        self._notifyDragEnter()

    def notify_drag_exit(self):
        """Calls the drag-exit callback. Main thread."""
        self._notifyDragExit()

    def notify_drag_drop(self, x, y, paths):
        """Calls the drop callback with x, y and the paths (a list of str or os.PathLike; None
        passes null, which the drop callback receives as []). Main thread. Needs no shared
        application."""
        self._notifyDragDrop(_int(x, "x"), _int(y, "y"), _join(paths, "paths"))

    def set_open_file_callback(self, callback):
        """callback(path: str) for each request of the system to open a file, or None to turn it
        off. Main thread. Needs no shared application; the requests come from its event loop."""
        _callback(callback, "callback")
        native = OpenFileCallback(lambda path: _guarded(callback, _borrowed(path) or "")) \
            if callback else OpenFileCallback()
        _hold("open", native, lambda: self._setOpenFileCallback(native))

    def get_open_filename(self):
        """The path of the most recent open-file request, or None before the first. Any thread.
        Needs no shared application (a plain script gets no requests: None)."""
        return _borrowed(self._getOpenFilename())

    def saved_filename(self):
        """The exported variable savedFilename: the same path as get_open_filename. Any thread."""
        return _borrowed(ctypes.c_void_p.in_dll(self._lib, "savedFilename").value)

    # ---- Window, application and system services -----------------------------------------

    def set_window_title(self, title):
        """Sets the main window's title. Needs the shared application, whose windows these are:
        nothing happens without a main window (a plain script has none). Main thread."""
        self._setWindowTitle(_encode(title, "title"))

    def get_scale_factor(self):
        """The main window's backing scale factor (else the main screen's, else 1.0). Needs a
        display for a real answer: it reads windows and screens, which the window server has
        (1.0 without one; on GNUstep also without a shared application). Main thread."""
        return float(self._getScaleFactor())

    def bring_to_front(self):
        """Activates the application and de-miniaturizes its main window. On macOS 14 and later
        the system may refuse the activation (the window is still ordered front). Needs the shared
        application: activation brings its windows and menus to the front (a plain script has
        none). Main thread."""
        self._bringToFront()

    def launch_app(self):
        """Starts another instance of the application (its bundle's executable, no arguments)
        without waiting for it; a failure is not reported. Needs no shared application, but an
        application bundle: in a plain script the main bundle is the interpreter's (GNUstep starts
        the interpreter again, macOS only when that bundle is an application). Main thread."""
        self._launchApp()

    def trash_file(self, path):
        """Moves the item at path (str, bytes or os.PathLike) to the Trash: True when moved; False
        for None, "" or any failure. Needs no shared application (file-system work). Main thread."""
        return bool(self._trashFile(_path(path, "path")))

    def get_uuid(self):
        """The hardware UUID (8-4-4-4-12, upper case), or None when it cannot be read. Needs no
        shared application. Main thread."""
        return self._owned(self._getUUID())

    def get_app_version(self):
        """The application's CFBundleVersion, or None when it has none (a plain interpreter has
        none). Needs no shared application. Main thread."""
        return self._owned(self._getAppVersion())

    def set_auto_restore(self):
        """Saves and restores the main window's frame under its represented file name. Needs the
        shared application, whose windows these are (a plain script has none: nothing happens).
        Main thread."""
        self._setAutoRestore()

    def create_process(self, launch_path, arguments, working_directory=None, wait_for_exit=True):
        """Runs launch_path with the arguments (a non-empty list of str or os.PathLike; never through
        a shell). Returns (status, output): waiting, the exit status (the signal number for a child
        killed by a signal) and the combined stdout+stderr (None when it is not UTF-8); detached,
        (0, None) once launched. A failed launch gives (-1, description), as does None for
        launch_path or arguments (null). Needs no shared application (it starts a process and
        reads its output). Any thread, several at once."""
        if arguments is not None and not isinstance(arguments, (str, bytes)):
            try:
                arguments = list(arguments)
            except TypeError:
                raise TypeError("arguments must be a list of str, not %s" % _type_name(arguments)) from None
            if not arguments:
                raise ValueError("arguments must be a non-empty list of str (the bundle cannot pass none)")
        joined = _join(arguments, "arguments")
        output = ctypes.c_void_p()
        status = self._createProcess(_path(launch_path, "launch_path"), joined,
                                     _path(working_directory, "working_directory"), bool(wait_for_exit),
                                     ctypes.byref(output))
        return status, self._owned(output.value)

    # ---- File dialogs --------------------------------------------------------------------
    # filters is a filter specification: "Name;ext1,ext2" entries joined by "|". Open results are
    # lists of paths ([] when cancelled), save results one path ("" when cancelled). Every dialog
    # needs the shared application and a display. Synchronous forms run the panel modally: main
    # thread only. Asynchronous forms return at once from any thread; the panel runs modally on the
    # main thread in its event loop (inside the host's next event pump, for a host that pumps
    # events itself). After any panel closes, the window that was key before it is key again.
    #
    # The shared slot: the asynchronous forms share one callback slot in the bundle. Each result
    # goes to the callback of the LATEST asynchronous request, whichever form made it, also the
    # result of a panel requested earlier and still up. Each callback gets its own shape all the
    # same: an open or folder callback a list[str] (a save panel's path as a one-item list), a save
    # callback one str (an open panel's first path). None drops the results.

    def dialog_open_file_panel(self, title, directory, filters, multiselect=False):
        """Runs an open panel modally: the chosen paths, [] when cancelled. Main thread only.
        Needs the shared application and a display (a panel is a window run modally in the
        application's event loop): a plain script gets the cancel result, with log lines."""
        return _split(self._DialogOpenFilePanel(_encode(title, "title"), _path(directory, "directory"),
                                                _encode(filters, "filters"), bool(multiselect)))

    def dialog_open_folder_panel(self, title, directory, multiselect=False):
        """Runs a folder panel modally: the chosen paths, [] when cancelled. Main thread only.
        Needs the shared application and a display (a panel is a window run modally in the
        application's event loop): a plain script gets the cancel result, with log lines."""
        return _split(self._DialogOpenFolderPanel(_encode(title, "title"), _path(directory, "directory"),
                                                  bool(multiselect)))

    def dialog_save_file_panel(self, title, directory, default_name, filters):
        """Runs a save panel modally: the chosen path, "" when cancelled. Main thread only.
        Needs the shared application and a display (a panel is a window run modally in the
        application's event loop): a plain script gets the cancel result, with log lines."""
        return _borrowed(self._DialogSaveFilePanel(_encode(title, "title"), _path(directory, "directory"),
                                                   _encode(default_name, "default_name"),
                                                   _encode(filters, "filters"))) or ""

    @staticmethod
    def _async_arguments(multiselect, callback):
        # The callback may stand in multiselect's place: f(title, directory, filters, callback).
        if callback is None and callable(multiselect):
            multiselect, callback = False, multiselect
        return bool(multiselect), _callback(callback, "callback")

    @staticmethod
    def _request(callback, shape, call):
        """Makes callback the shared slot's, then calls the export with the process's dispatcher."""
        with _lock:
            _dialog_latest[0] = (callback, shape) if callback is not None else None
            call(_dialog_dispatcher)

    def dialog_open_file_panel_async(self, title, directory, filters, multiselect=False, callback=None):
        """Returns at once, from any thread; callback(paths: list[str]) on the main thread ([] when
        cancelled). Needs the shared application and a display, and its running event
        loop, which runs the panel and delivers the result (a plain script never hears the
        callback). See the shared slot above."""
        multiselect, callback = self._async_arguments(multiselect, callback)
        arguments = (_encode(title, "title"), _path(directory, "directory"), _encode(filters, "filters"),
                     multiselect)
        self._request(callback, _split, lambda native: self._DialogOpenFilePanelAsync(*arguments, native))

    def dialog_open_folder_panel_async(self, title, directory, multiselect=False, callback=None):
        """Returns at once, from any thread; callback(paths: list[str]) on the main thread ([] when
        cancelled). Needs the shared application and a display, and its running event
        loop, which runs the panel and delivers the result (a plain script never hears the
        callback). See the shared slot above."""
        multiselect, callback = self._async_arguments(multiselect, callback)
        arguments = (_encode(title, "title"), _path(directory, "directory"), multiselect)
        self._request(callback, _split, lambda native: self._DialogOpenFolderPanelAsync(*arguments, native))

    def dialog_save_file_panel_async(self, title, directory, default_name, filters, callback=None):
        """Returns at once, from any thread; callback(path: str) on the main thread, "" when
        cancelled. Needs the shared application and a display, and its running event loop, which
        runs the panel and delivers the result (a plain script never hears the callback). See the
        shared slot above."""
        _callback(callback, "callback")
        arguments = (_encode(title, "title"), _path(directory, "directory"),
                     _encode(default_name, "default_name"), _encode(filters, "filters"))
        self._request(callback, _one_path, lambda native: self._DialogSaveFilePanelAsync(*arguments, native))

    # ---- Menus ---------------------------------------------------------------------------
    # A menu is named by (menu_tag, sub_menu_tag): (0, 0) the main menu, (0, 1) the dock menu,
    # (0, s) the submenu of the main-menu item tagged s, (m, s) the submenu of the item tagged s in
    # the submenu of the main-menu item tagged m. Tags are ints that fit a C int. The menus are the
    # shared application's: without one there is no menu. Main thread.

    def add_menu_item(self, menu_tag, sub_menu_tag, title, tag, key_equivalent="", index=-1, is_sub_menu=False):
        """Adds an item ("" title: a separator) at index (-1: appended). False without the menu.
        Main thread. Needs the shared application, whose menus these are: without one, False."""
        return bool(self._addMenuItem(_int(menu_tag, "menu_tag"), _int(sub_menu_tag, "sub_menu_tag"),
                                      _encode(title, "title"), _int(tag, "tag"),
                                      _encode(key_equivalent, "key_equivalent"), _int(index, "index"),
                                      bool(is_sub_menu)))

    def remove_menu_item(self, menu_tag, sub_menu_tag, item_tag):
        """Removes the first item tagged item_tag: False when the menu or item is missing. Main
        thread. Needs the shared application, whose menus these are: without one, False."""
        return bool(self._removeMenuItem(*self._item(menu_tag, sub_menu_tag, item_tag)))

    def remove_all_menu_items(self, menu_tag, sub_menu_tag):
        """Empties the menu, if there is one. Main thread. Needs the shared application, whose
        menus these are: without one, nothing happens."""
        self._removeAllMenuItems(_int(menu_tag, "menu_tag"), _int(sub_menu_tag, "sub_menu_tag"))

    def set_menu_item_enabled(self, menu_tag, sub_menu_tag, item_tag, enabled):
        """Enables or disables the item (a disabled item reports nothing). Main thread. Needs the
        shared application, whose menus these are: without one, nothing happens."""
        self._setMenuItemEnabled(*self._item(menu_tag, sub_menu_tag, item_tag), bool(enabled))

    def set_menu_item_checked(self, menu_tag, sub_menu_tag, item_tag, checked):
        """Puts the item's check mark on or off. Main thread. Needs the shared application, whose
        menus these are: without one, nothing happens."""
        self._setMenuItemChecked(*self._item(menu_tag, sub_menu_tag, item_tag), bool(checked))

    def is_menu_item_checked(self, menu_tag, sub_menu_tag, item_tag):
        """True only when the item exists and is checked. Main thread. Needs the shared
        application, whose menus these are: without one, False."""
        return bool(self._isMenuItemChecked(*self._item(menu_tag, sub_menu_tag, item_tag)))

    def set_menu_item_text(self, menu_tag, sub_menu_tag, item_tag, text):
        """Retitles the item (a submenu keeps its own title). Main thread. Needs the shared
        application, whose menus these are: without one, nothing happens."""
        self._setMenuItemText(*self._item(menu_tag, sub_menu_tag, item_tag), _encode(text, "text"))

    @staticmethod
    def _item(menu_tag, sub_menu_tag, item_tag):
        return _int(menu_tag, "menu_tag"), _int(sub_menu_tag, "sub_menu_tag"), _int(item_tag, "item_tag")


def load(path):
    """Loads the bundle: path (str or os.PathLike) is DesktopBridge.bundle (a directory) or the
    binary inside it. Load it on the main thread, after the host's own classes exist (or name them
    afterwards with attach_host_classes)."""
    path = os.fspath(path)
    if os.path.isdir(path):
        path = os.path.join(path, BUNDLE_BINARY_SUBPATH)
    return DesktopBridge(path)
