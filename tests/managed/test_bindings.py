# The Python binding, run by PythonHost on its main thread: every facility through the binding,
# played by the host's controls, with the values that arrive checked; then the stress case, whose
# heap slopes are printed.
import ctypes
import gc
import io
import os
import re
import sys
import pathlib
import random
import tempfile
import threading
import time
import unittest
import weakref

sys.path.insert(0, os.path.join(os.environ["DB_BINDINGS_DIR"], "python"))
import desktopbridge  # noqa: E402

SEP = desktopbridge.LIST_SEPARATOR
bridge = desktopbridge.load(os.environ["DB_BUNDLE_DIR"])

host = ctypes.CDLL(None)
Done = ctypes.CFUNCTYPE(ctypes.c_int)
for name, restype, argtypes in [
        ("HostQueuePanelAnswer", None, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_bool]),
        ("HostPanelsAnswered", ctypes.c_int, []), ("HostUnexpectedPanels", ctypes.c_int, []),
        ("HostPanelsCannotSelect", ctypes.c_char_p, []),
        ("HostRunMainLoopUntil", ctypes.c_bool, [Done, ctypes.c_double]),
        ("HostChooseMenuItem", ctypes.c_bool, [ctypes.c_int]), ("HostOpenSubmenu", ctypes.c_bool, [ctypes.c_int]),
        ("HostDragFiles", ctypes.c_bool, [ctypes.c_char_p, ctypes.c_double, ctypes.c_double, ctypes.c_bool]),
        ("HostOpenFile", ctypes.c_bool, [ctypes.c_char_p]), ("HostMakeMainWindow", None, []), ("HostMainWindowTitle", ctypes.c_char_p, []),
        ("HostDeactivate", None, []), ("HostIsActive", ctypes.c_bool, []),
        ("HostHeapBytes", ctypes.c_longlong, [])]:
    getattr(host, name).restype = restype
    getattr(host, name).argtypes = argtypes


def run_until(predicate, seconds=20):
    done = Done(lambda: 1 if predicate() else 0)
    return host.HostRunMainLoopUntil(done, seconds)


def answer(paths=None, name=None, pick=-1, ok=True):
    joined = SEP.join(paths).encode() if paths else None
    host.HostQueuePanelAnswer(joined, name.encode() if name else None, pick, ok)


def folder_with(*names):
    folder = os.path.realpath(tempfile.mkdtemp(prefix="db-bindings-"))
    for name in names:
        open(os.path.join(folder, name), "w").close()
    return folder


class Dialogs(unittest.TestCase):
    FILTERS = "Songs;mp3,ogg|All files;*"

    def setUp(self):
        self.unexpected = host.HostUnexpectedPanels()
        self.folder = folder_with("a.mp3", "\u00fc b.ogg", "notes.txt")
        self.picked = [os.path.join(self.folder, "a.mp3"), os.path.join(self.folder, "\u00fc b.ogg")]

    def tearDown(self):
        self.assertEqual(host.HostUnexpectedPanels(), self.unexpected)

    def skip_unless_panels_select(self):
        reason = host.HostPanelsCannotSelect()
        if reason:
            self.skipTest(reason.decode())

    def test_open_panel_pick_and_cancel(self):
        self.skip_unless_panels_select()
        answer(self.picked)
        self.assertEqual(bridge.dialog_open_file_panel("Pick songs", self.folder, self.FILTERS, True), self.picked)
        answer(ok=False)
        self.assertEqual(bridge.dialog_open_file_panel("Pick songs", self.folder, self.FILTERS, True), [])

    def test_save_panel_pick_and_cancel(self):
        answer(name="mix.mp3")
        self.assertEqual(bridge.dialog_save_file_panel("Save", self.folder, "x.mp3", self.FILTERS),
                         os.path.join(self.folder, "mix.mp3"))
        answer(ok=False)
        self.assertEqual(bridge.dialog_save_file_panel("Save", self.folder, "x.mp3", self.FILTERS), "")

    def test_async_results_reach_the_callback_once_per_request(self):
        self.skip_unless_panels_select()
        results = []
        answer(self.picked)
        bridge.dialog_open_file_panel_async("Pick", self.folder, self.FILTERS, True, results.append)
        self.assertEqual(results, [])  # the panel runs later, on the main loop
        gc.collect()  # the binding holds the callback, not the caller
        self.assertTrue(run_until(lambda: results))
        answer(ok=False)
        bridge.dialog_open_file_panel_async("Pick", self.folder, self.FILTERS, False, results.append)
        self.assertTrue(run_until(lambda: len(results) == 2))
        answer(name="mix.ogg")
        bridge.dialog_save_file_panel_async("Save", self.folder, "x.mp3", self.FILTERS, results.append)
        self.assertTrue(run_until(lambda: len(results) == 3))
        answer(ok=False)
        bridge.dialog_open_folder_panel_async("Folder", self.folder, False, results.append)
        self.assertTrue(run_until(lambda: len(results) == 4))
        self.assertEqual(results, [self.picked, [], os.path.join(self.folder, "mix.ogg"), []])


class Menus(unittest.TestCase):
    def setUp(self):
        self.heard = []
        bridge.set_menu_callback(lambda tag, title: self.heard.append((tag, title)))
        self.assertTrue(bridge.add_menu_item(0, 0, "Bindings", 500, "", -1, True))
        self.assertTrue(bridge.add_menu_item(0, 500, "Play \u25b6", 501, "p", -1, False))

    def tearDown(self):
        bridge.remove_all_menu_items(0, 0)
        bridge.set_menu_callback(None)

    def test_items_by_tag_raise_the_callback(self):
        self.assertTrue(host.HostChooseMenuItem(501))
        bridge.set_menu_item_text(0, 500, 501, "Pause")
        self.assertTrue(host.HostChooseMenuItem(501))
        self.assertTrue(host.HostOpenSubmenu(500))
        self.assertEqual(self.heard, [("501", "Play \u25b6"), ("501", "Pause"), ("500", "Bindings")])

    def test_item_state_and_removal(self):
        self.assertFalse(bridge.is_menu_item_checked(0, 500, 501))
        bridge.set_menu_item_checked(0, 500, 501, True)
        self.assertTrue(bridge.is_menu_item_checked(0, 500, 501))
        self.assertFalse(bridge.add_menu_item(0, 999, "nowhere", 1))
        self.assertTrue(bridge.remove_menu_item(0, 500, 501))
        self.assertFalse(bridge.remove_menu_item(0, 500, 501))
        self.assertFalse(host.HostChooseMenuItem(501))

    def test_dock_menu_and_notify(self):
        self.assertTrue(bridge.add_menu_item(0, 1, "Dock item", 600))
        self.assertTrue(host.HostChooseMenuItem(600))
        bridge.notify_menu_selected(-7, "Seven")
        bridge.remove_all_menu_items(0, 1)
        self.assertEqual(self.heard, [("600", "Dock item"), ("-7", "Seven")])


class DragsAndOpenFile(unittest.TestCase):
    def setUp(self):
        self.events = []
        host.HostMakeMainWindow()
        bridge.remove_all_menu_items(0, 1)  # the menu manager registers the main view for drags
        bridge.set_drag_drop_callback(lambda: self.events.append("enter"), lambda: self.events.append("exit"),
                                      lambda x, y, paths: self.events.append((x, y, paths)))

    def tearDown(self):
        bridge.set_drag_drop_callback(None, None, None)

    def test_drops_and_drags_that_leave(self):
        files = ["/tmp/db bindings/a.mp3", "/tmp/\u00fc.mp3"]
        self.assertTrue(host.HostDragFiles(SEP.join(files).encode(), 10, 20, True))
        self.assertFalse(host.HostDragFiles(files[0].encode(), 1, 1, False))
        scale = bridge.get_scale_factor()
        self.assertEqual(self.events, ["enter", (int(10 * scale), int(20 * scale), files), "enter", "exit"])

    def test_notify_functions_and_bad_lists(self):
        bridge.notify_drag_enter()
        bridge.notify_drag_drop(-3, 4, ["x", "y z"])
        bridge.notify_drag_drop(0, 0, [])
        bridge.notify_drag_drop(1, 2, None)  # null paths, as a single-item drop without a URL gives
        bridge.notify_drag_exit()
        self.assertEqual(self.events, ["enter", (-3, 4, ["x", "y z"]), (0, 0, []), (1, 2, []), "exit"])
        self.assertRaises(ValueError, bridge.notify_drag_drop, 0, 0, ["a" + SEP + "b"])
        self.assertRaises(ValueError, bridge.set_window_title, "nul\0inside")

    def test_open_file_request(self):
        opened = []
        bridge.set_open_file_callback(opened.append)
        gc.collect()
        path = "/tmp/db bindings/\u00fc song.mp3"
        host.HostOpenFile(path.encode())
        bridge.set_open_file_callback(None)
        host.HostOpenFile(b"/tmp/unheard.mp3")
        self.assertEqual(opened, [path])
        self.assertEqual(bridge.get_open_filename(), "/tmp/unheard.mp3")
        self.assertEqual(bridge.saved_filename(), "/tmp/unheard.mp3")


class Services(unittest.TestCase):
    def test_window_and_application(self):
        host.HostMakeMainWindow()
        bridge.set_window_title("Bindings \u00fc")
        self.assertEqual(host.HostMainWindowTitle().decode(), "Bindings \u00fc")
        self.assertGreaterEqual(bridge.get_scale_factor(), 1.0)
        self.assertEqual(bridge.get_app_version(), "22.1")
        uuid = bridge.get_uuid()
        if uuid is not None:
            self.assertRegex(uuid, r"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
            self.assertEqual(bridge.get_uuid(), uuid)
        host.HostDeactivate()
        self.assertTrue(run_until(lambda: not host.HostIsActive(), 5))
        bridge.bring_to_front()
        activated = run_until(host.HostIsActive, 5)
        # macOS 14 and later need not activate a process started by a test runner (DB_ACTIVATION_REFUSED
        # makes the GNUstep stand-in refuse as macOS does).
        if not activated and (sys.platform == "darwin" or os.environ.get("DB_ACTIVATION_REFUSED") == "1"):
            self.skipTest("the application stayed inactive after bring_to_front: the system did not let a "
                          "process started by a test runner take the focus")
        self.assertTrue(activated)

    @unittest.skipIf(sys.platform == "darwin", "macOS would move the file into the user's own Trash")
    def test_trash(self):
        folder = folder_with("clip.mp4")
        os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")  # this process's Trash, on GNUstep
        path = os.path.join(folder, "clip.mp4")
        self.assertTrue(bridge.trash_file(path))
        self.assertFalse(os.path.exists(path))
        self.assertFalse(bridge.trash_file(path))

    def test_create_process(self):
        child = os.environ["DB_PROCESS_CHILD"]
        self.assertEqual(bridge.create_process(child, ["streams"]), (0, "out 1\nerr 1\nout 2\nerr 2\n"))
        self.assertEqual(bridge.create_process(child, ["hex", "c3bc"]), (0, "\u00fc"))
        self.assertEqual(bridge.create_process(child, ["exit", "3"]), (3, ""))
        folder = folder_with()
        self.assertEqual(bridge.create_process(child, ["pwd"], folder), (0, folder))
        self.assertEqual(bridge.create_process(child, ["exit", "0"], wait_for_exit=False), (0, None))
        status, description = bridge.create_process("/nonexistent/program", ["x"])
        self.assertEqual(status, -1)
        self.assertTrue(description)
        self.assertRaises(ValueError, bridge.create_process, child, [])
        self.assertRaises(ValueError, bridge.create_process, child, ["a" + SEP + "b"])


class Bookkeeping(unittest.TestCase):
    """What the binding holds for the bundle, and the shapes its callbacks get."""

    @staticmethod
    def stand_in_binding(slot, unheld=None):
        """A second binding object whose asynchronous dialog exports are stand-ins. Each keeps, as
        the bundle's slot does, the address of the callback it was given (with a weak reference to
        it and the requesting thread's name) in slot, then sleeps for a random while: requests of
        other threads overtake it, as they can while ctypes has let go of the interpreter lock for
        the foreign call. check_slot(), also called on entry, counts in unheld a slot whose callback
        has been let go of."""
        other = desktopbridge.load(os.environ["DB_BUNDLE_DIR"])
        order = threading.Lock()

        def check():
            with order:
                if slot and slot[-1][1]() is None and unheld is not None:
                    unheld.append(slot[-1][2])

        def export(*arguments):
            check()
            with order:
                native = arguments[-1]
                slot.append((ctypes.c_void_p.from_buffer(native).value, weakref.ref(native),
                             threading.current_thread().name))
            time.sleep(random.random() * 0.002)
        other._DialogOpenFilePanelAsync = other._DialogOpenFolderPanelAsync = other._DialogSaveFilePanelAsync = export
        other.check_slot = check
        return other

    @staticmethod
    def deliver(slot, text):
        """Calls what the bundle's slot holds now, as the main thread does with a result."""
        desktopbridge.DialogCallback(slot[-1][0])(text)

    def test_three_threads_leave_held_what_the_bundle_holds(self):
        slot, heard, unheld = [], [], []
        other = self.stand_in_binding(slot, unheld)

        def requester(kind):
            for _ in range(300):
                if kind == "save":
                    other.dialog_save_file_panel_async("t", "", "n", "", lambda path, k=kind: heard.append((k, path)))
                else:
                    request = getattr(other, "dialog_open_%s_panel_async" % kind)
                    extra = ("",) if kind == "file" else ()
                    request("t", "", *extra, callback=lambda paths, k=kind: heard.append((k, paths)))
                other.check_slot()
                time.sleep(random.random() * 0.002)  # the thread's other work
        threads = [threading.Thread(target=requester, args=(kind,), name=kind) for kind in ("file", "folder", "save")]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        gc.collect()
        self.assertEqual(unheld, [])
        self.assertIsNotNone(slot[-1][1]())
        last = slot[-1][2]
        self.deliver(slot, b"/a\x1c/b")
        self.assertEqual(heard, [(last, "/a" if last == "save" else ["/a", "/b"])])

    def test_each_callback_gets_its_own_shape_from_the_shared_slot(self):
        slot, heard = [], []
        other = self.stand_in_binding(slot)
        other.dialog_open_file_panel_async("t", "", "", callback=lambda paths: heard.append(("open", paths)))
        self.deliver(slot, b"/saved/one")  # a save panel's result, arriving after an open request
        other.dialog_save_file_panel_async("t", "", "n", "", lambda path: heard.append(("save", path)))
        self.deliver(slot, b"/x\x1c/y")  # an open panel's result, arriving after a save request
        self.deliver(slot, b"")
        other.dialog_open_folder_panel_async("t", "", lambda paths: heard.append(("folder", paths)))
        self.deliver(slot, b"")
        other.dialog_save_file_panel_async("t", "", "n", "", None)
        self.deliver(slot, b"/dropped")
        self.assertEqual(heard, [("open", ["/saved/one"]), ("save", "/x"), ("save", ""), ("folder", [])])

    def test_a_dropped_binding_object_keeps_its_callbacks(self):
        heard = []
        other = desktopbridge.load(pathlib.Path(os.environ["DB_BUNDLE_DIR"]))
        other.set_menu_callback(lambda tag, title: heard.append((tag, title)))
        del other
        gc.collect()
        later = [desktopbridge.MenuCallback(lambda tag, title: heard.append("a later callback")) for _ in range(64)]
        bridge.notify_menu_selected(5, "Five")
        bridge.set_menu_callback(None)
        self.assertEqual(heard, [("5", "Five")])
        del later

    def test_a_raising_callback_goes_no_further(self):
        def raising(tag, title):
            raise RuntimeError("from the callback")
        bridge.set_menu_callback(raising)
        saved, sys.stderr = sys.stderr, io.StringIO()
        try:
            bridge.notify_menu_selected(1, "One")  # returns: the exception is printed, not raised
        finally:
            printed, sys.stderr = sys.stderr.getvalue(), saved
            bridge.set_menu_callback(None)
        self.assertIn("desktopbridge: a callback raised", printed)
        self.assertIn("RuntimeError: from the callback", printed)

    def test_wrong_inputs_name_their_parameter(self):
        cases = [(TypeError, "path", bridge.trash_file, 42), (TypeError, "tag", bridge.add_menu_item, 0, 0, "x", "5"),
                 (OverflowError, "item_tag", bridge.remove_menu_item, 0, 0, 2 ** 40),
                 (TypeError, "item_tag", bridge.remove_menu_item, 0, 0, 2 ** 40),
                 (TypeError, "callback", bridge.set_menu_callback, 3), (TypeError, "drop", bridge.set_drag_drop_callback,
                                                                        None, None, "x"),
                 (TypeError, "paths", bridge.notify_drag_drop, 0, 0, "abc"),
                 (TypeError, "arguments", bridge.create_process, "/bin/true", "abc"),
                 (ValueError, "arguments", bridge.create_process, "/bin/true", "abc"),
                 (TypeError, "title", bridge.set_window_title, 7)]
        for error, name, call, *arguments in cases:
            with self.assertRaisesRegex(error, name):
                call(*arguments)
        folder = folder_with("a.txt")
        if sys.platform != "darwin":  # macOS would move it into the user's own Trash
            os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")  # this process's Trash
            self.assertTrue(bridge.trash_file(pathlib.Path(folder, "a.txt")))
        self.assertFalse(bridge.trash_file(None))
        self.assertEqual(bridge.create_process(pathlib.Path(os.environ["DB_PROCESS_CHILD"]), ["pwd"],
                                               pathlib.Path(folder)), (0, folder))
        self.assertEqual(bridge.create_process(os.environ["DB_PROCESS_CHILD"], None)[0], -1)

    def test_version_and_host_classes(self):
        self.assertEqual(desktopbridge.__version__, os.environ["DB_PROJECT_VERSION"])
        bits = bridge.attach_host_classes("PlayerAppDelegate", "PlayerWindowView")
        self.assertEqual(bits, desktopbridge.HANDLERS_ALL)
        self.assertEqual(bridge.attach_host_classes("PlayerAppDelegate", "PlayerWindowView"), bits)
        self.assertEqual(bridge.attach_host_classes(None, ""), 0)


class Stress(unittest.TestCase):
    """Growth per call of the process heap and of the blocks Python's own allocator holds (its small
    objects live outside the heap), over three windows of N calls after N calls of warm-up. A
    binding that forgot to free an owned result keeps at least one heap chunk (32 bytes or more) per
    call, one that kept every callback object at least one block per call: that shows in every
    window, while a one-time growth of a runtime's table shows in one. The bounds, half of that, are
    on the smallest window."""
    N = 3000
    WINDOWS = 3
    BOUND = 16.0
    BLOCKS_BOUND = 0.5

    def slope(self, name, step):
        for i in range(self.N):
            step(i)
        windows = []
        for window in range(1, self.WINDOWS + 1):
            gc.collect()
            first, first_blocks = host.HostHeapBytes(), sys.getallocatedblocks()
            for i in range(window * self.N, (window + 1) * self.N):
                step(i)
            gc.collect()
            windows.append(((host.HostHeapBytes() - first) / float(self.N),
                            (sys.getallocatedblocks() - first_blocks) / float(self.N)))
        heap, blocks = min(w[0] for w in windows), min(w[1] for w in windows)
        print("\nheap slope, %s: %.2f bytes/call, %.3f Python blocks/call (windows: %s)"
              % (name, heap, blocks, " ".join("%.2f/%.3f" % w for w in windows)))
        self.assertLess(heap, self.BOUND)
        self.assertLess(blocks, self.BLOCKS_BOUND)

    def test_owned_strings(self):
        def step(i):
            self.assertEqual(bridge.get_app_version(), "22.1")
            bridge.get_uuid()
        self.slope("owned strings (getAppVersion + getUUID)", step)

    def test_callbacks_replaced_with_collections(self):
        heard = [None, None]  # what the latest calls reached; a growing record would grow the heap
        wrong = []

        def step(i):
            bridge.set_menu_callback(lambda tag, title, i=i: heard.__setitem__(0, (i, tag)))
            bridge.set_drag_drop_callback(drop=lambda x, y, paths, i=i: heard.__setitem__(1, (i, x, paths)))
            if i % 10 == 0:
                gc.collect()
            bridge.notify_menu_selected(i, "item")
            bridge.notify_drag_drop(i, 0, ["p"])
            if heard != [(i, str(i)), (i, i, ["p"])] and len(wrong) < 5:
                wrong.append((i, list(heard)))
        self.slope("callbacks replaced", step)
        bridge.set_menu_callback(None)
        bridge.set_drag_drop_callback(None, None, None)
        self.assertEqual(wrong, [])  # each call reached the callback registered just before it


result = unittest.main(argv=["test_bindings"], exit=False, verbosity=2).result
exit_code = 0 if result.wasSuccessful() else 1
