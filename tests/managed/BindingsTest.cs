// The C# binding, run by MonoHost on its main thread: every facility through the binding, played by
// the host's controls, with the values that arrive checked; then the stress case, whose heap slopes
// are printed. Main returns the number of failed tests.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using DesktopBridge;

static class Host
{
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)] public delegate int Done();

    [DllImport("__Internal")] public static extern void HostQueuePanelAnswer(string paths, string name, int pick,
        [MarshalAs(UnmanagedType.I1)] bool ok);
    [DllImport("__Internal")] public static extern int HostUnexpectedPanels();
    [DllImport("__Internal")] public static extern IntPtr HostPanelsCannotSelect();
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)]
    static extern bool HostRunMainLoopUntil(Done done, double seconds);
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)] public static extern bool HostChooseMenuItem(int tag);
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)] public static extern bool HostOpenSubmenu(int tag);
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)]
    public static extern bool HostDragFiles(string paths, double x, double y, [MarshalAs(UnmanagedType.I1)] bool drop);
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)] public static extern bool HostOpenFile(string path);
    [DllImport("__Internal")] public static extern void HostMakeMainWindow();
    [DllImport("__Internal")] public static extern IntPtr HostMainWindowTitle();
    [DllImport("__Internal")] public static extern void HostDeactivate();
    [DllImport("__Internal")] [return: MarshalAs(UnmanagedType.I1)] public static extern bool HostIsActive();
    [DllImport("__Internal")] public static extern long HostHeapBytes();

    public static bool RunUntil(Func<bool> predicate, double seconds = 20)
    {
        Done done = () => predicate() ? 1 : 0;
        bool result = HostRunMainLoopUntil(done, seconds);
        GC.KeepAlive(done);
        return result;
    }

    public static void Answer(string[] paths = null, string name = null, int pick = -1, bool ok = true)
    {
        HostQueuePanelAnswer(paths == null ? null : string.Join("\x1c", paths), name, pick, ok);
    }

    public static string Utf8(IntPtr text)
    {
        if (text == IntPtr.Zero) return null;
        var bytes = new List<byte>();
        for (int i = 0; Marshal.ReadByte(text, i) != 0; i++) bytes.Add(Marshal.ReadByte(text, i));
        return System.Text.Encoding.UTF8.GetString(bytes.ToArray());
    }
}

class SkipException : Exception
{
    public SkipException(string reason) : base(reason) { }
}

static class BindingsTest
{
    static Bridge bridge;
    const string Filters = "Songs;mp3,ogg|All files;*";
    const char Sep = Bridge.ListSeparator;

    static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            throw new Exception(what + ": expected <" + expected + ">, got <" + actual + ">");
    }

    static void Same(IEnumerable<object> expected, IEnumerable<object> actual, string what)
    {
        string e = string.Join(" | ", expected), a = string.Join(" | ", actual);
        if (e != a) throw new Exception(what + ": expected [" + e + "], got [" + a + "]");
    }

    static void True(bool condition, string what)
    {
        if (!condition) throw new Exception(what);
    }

    static void Throws<E>(Action action, string what) where E : Exception
    {
        try { action(); }
        catch (E) { return; }
        throw new Exception(what + ": no " + typeof(E).Name);
    }

    static string FolderWith(params string[] names)
    {
        string folder = Path.Combine(Path.GetTempPath(), "db-bindings-cs-" + Guid.NewGuid().ToString("N"));
        Directory.CreateDirectory(folder);
        foreach (string name in names) File.WriteAllText(Path.Combine(folder, name), "");
        return folder;
    }

    static void SkipUnlessPanelsSelect()
    {
        string reason = Host.Utf8(Host.HostPanelsCannotSelect());
        if (reason != null) throw new SkipException(reason);
    }

    // ---- Dialogs -------------------------------------------------------------------------

    static void DialogsPickAndCancel()
    {
        int unexpected = Host.HostUnexpectedPanels();
        string folder = FolderWith("a.mp3", "\u00fc b.ogg");
        string[] picked = { Path.Combine(folder, "a.mp3"), Path.Combine(folder, "\u00fc b.ogg") };
        Host.Answer(name: "mix.mp3");
        Equal(Path.Combine(folder, "mix.mp3"), bridge.DialogSaveFilePanel("Save", folder, "x.mp3", Filters), "save pick");
        Host.Answer(ok: false);
        Equal("", bridge.DialogSaveFilePanel("Save", folder, "x.mp3", Filters), "save cancel");
        Equal(unexpected, Host.HostUnexpectedPanels(), "unexpected panels");
        SkipUnlessPanelsSelect();
        Host.Answer(picked);
        Same(picked, bridge.DialogOpenFilePanel("Pick", folder, Filters, true), "open pick");
        Host.Answer(ok: false);
        Same(new string[0], bridge.DialogOpenFilePanel("Pick", folder, Filters, true), "open cancel");
        Equal(unexpected, Host.HostUnexpectedPanels(), "unexpected panels");
    }

    static void AsyncDialogsReachTheCallback()
    {
        SkipUnlessPanelsSelect();
        string folder = FolderWith("a.mp3", "\u00fc b.ogg");
        string[] picked = { Path.Combine(folder, "a.mp3"), Path.Combine(folder, "\u00fc b.ogg") };
        var results = new List<string>();
        Host.Answer(picked);
        bridge.DialogOpenFilePanelAsync("Pick", folder, Filters, true, paths => results.Add(string.Join("+", paths)));
        Equal(0, results.Count, "result before the panel ran");
        GC.Collect();
        GC.WaitForPendingFinalizers();  // the binding holds the delegate, not the caller
        True(Host.RunUntil(() => results.Count == 1), "open result arrives");
        Host.Answer(ok: false);
        bridge.DialogOpenFilePanelAsync("Pick", folder, Filters, paths => results.Add(string.Join("+", paths)));
        True(Host.RunUntil(() => results.Count == 2), "cancel arrives");
        Host.Answer(name: "mix.ogg");
        bridge.DialogSaveFilePanelAsync("Save", folder, "x.mp3", Filters, path => results.Add(path));
        True(Host.RunUntil(() => results.Count == 3), "save result arrives");
        Same(new[] { string.Join("+", picked), "", Path.Combine(folder, "mix.ogg") }, results, "async results");
    }

    // ---- Menus ---------------------------------------------------------------------------

    static void MenuItemsRaiseTheCallback()
    {
        var heard = new List<string>();
        Host.HostMakeMainWindow();  // the first menu call registers the main window's view for drags
        bridge.SetMenuCallback((tag, title) => heard.Add(tag + ":" + title));
        True(bridge.AddMenuItem(0, 0, "Bindings", 500, "", -1, true), "submenu added");
        True(bridge.AddMenuItem(0, 500, "Play \u25b6", 501, "p"), "item added");
        True(Host.HostChooseMenuItem(501), "item chosen");
        bridge.SetMenuItemText(0, 500, 501, "Pause");
        True(Host.HostChooseMenuItem(501), "item chosen again");
        True(Host.HostOpenSubmenu(500), "submenu opened");
        bridge.SetMenuItemChecked(0, 500, 501, true);
        True(bridge.IsMenuItemChecked(0, 500, 501), "checked");
        True(bridge.AddMenuItem(0, 1, "Dock item", 600), "dock item added");
        True(Host.HostChooseMenuItem(600), "dock item chosen");
        var culture = System.Threading.Thread.CurrentThread.CurrentCulture;
        System.Threading.Thread.CurrentThread.CurrentCulture = new System.Globalization.CultureInfo("sv-SE");
        try { bridge.NotifyMenuSelected(-7, "Seven"); }  // the tag's text is the same in every culture
        finally { System.Threading.Thread.CurrentThread.CurrentCulture = culture; }
        True(bridge.RemoveMenuItem(0, 500, 501), "removed");
        True(!bridge.RemoveMenuItem(0, 500, 501), "removed twice");
        True(!bridge.AddMenuItem(0, 999, "nowhere", 1), "no such menu");
        bridge.RemoveAllMenuItems(0, 0);
        bridge.RemoveAllMenuItems(0, 1);
        bridge.SetMenuCallback(null);
        Same(new[] { "501:Play \u25b6", "501:Pause", "500:Bindings", "600:Dock item", "-7:Seven" }, heard, "menu reports");
    }

    // What the bundle may call lives as long as the process, not as long as the Bridge object.
    static void CallbacksOutliveTheBridgeObject()
    {
        var heard = new List<string>();
        DropBridgeWithCallback(heard);
        for (int i = 0; i < 3; i++) { GC.Collect(); GC.WaitForPendingFinalizers(); }
        var later = new List<Action<string, string>>();
        for (int i = 0; i < 64; i++) later.Add((tag, title) => heard.Add("a later callback"));
        bridge.NotifyMenuSelected(5, "Five");
        bridge.SetMenuCallback(null);
        Same(new[] { "5:Five" }, heard, "menu reports after the object went");
        GC.KeepAlive(later);
    }

    static void DropBridgeWithCallback(List<string> heard)
    {
        Bridge.Load(Environment.GetEnvironmentVariable("DB_BUNDLE_DIR")).SetMenuCallback((tag, title) => heard.Add(tag + ":" + title));
    }

    static void VersionAndHostClasses()
    {
        Equal(Environment.GetEnvironmentVariable("DB_PROJECT_VERSION"), Bridge.Version, "version");
        int bits = bridge.AttachHostClasses("PlayerAppDelegate", "PlayerWindowView");
        Equal(Bridge.HandlersAll, bits, "handlers on the default classes");
        Equal(bits, bridge.AttachHostClasses("PlayerAppDelegate", "PlayerWindowView"), "attached twice");
        Equal(0, bridge.AttachHostClasses(null, ""), "no classes");
    }

    // ---- Drags and open-file requests ----------------------------------------------------

    static void DropsAndOpenFileRequests()
    {
        var events = new List<string>();
        bridge.RemoveAllMenuItems(0, 1);  // the menu manager registers the main view for drags
        bridge.SetDragDropCallback(() => events.Add("enter"), () => events.Add("exit"),
            (x, y, paths) => events.Add(x + "," + y + ":" + string.Join("+", paths) + "/" + paths.Length));
        GC.Collect();
        string[] files = { "/tmp/db bindings/a.mp3", "/tmp/\u00fc.mp3" };
        True(Host.HostDragFiles(string.Join("\x1c", files), 10, 20, true), "drop performed");
        True(!Host.HostDragFiles(files[0], 1, 1, false), "drag left");
        bridge.NotifyDragDrop(-3, 4, new[] { "x", "y z" });
        bridge.NotifyDragDrop(0, 0, new string[0]);
        float scale = bridge.GetScaleFactor();
        Same(new[] { "enter", (int)(10 * scale) + "," + (int)(20 * scale) + ":" + string.Join("+", files) + "/2", "enter",
            "exit", "-3,4:x+y z/2", "0,0:/0" }, events, "drag events");
        Throws<ArgumentException>(() => bridge.NotifyDragDrop(0, 0, new[] { "a" + Sep + "b" }), "separator in a list");
        bridge.SetDragDropCallback(null, null, null);

        var opened = new List<string>();
        bridge.SetOpenFileCallback(opened.Add);
        GC.Collect();
        string path = "/tmp/db bindings/\u00fc song.mp3";
        Host.HostOpenFile(path);
        bridge.SetOpenFileCallback(null);
        Host.HostOpenFile("/tmp/unheard.mp3");
        Same(new[] { path }, opened, "open-file requests heard");
        Equal("/tmp/unheard.mp3", bridge.GetOpenFilename(), "getOpenFilename");
    }

    // ---- Services ------------------------------------------------------------------------

    static void WindowAndSystemServices()
    {
        Host.HostMakeMainWindow();
        bridge.SetWindowTitle("Bindings \u00fc");
        Equal("Bindings \u00fc", Host.Utf8(Host.HostMainWindowTitle()), "window title");
        True(bridge.GetScaleFactor() >= 1.0f, "scale factor");
        Throws<ArgumentException>(() => bridge.SetWindowTitle("nul\0inside"), "NUL in a string");
        Host.HostDeactivate();
        True(Host.RunUntil(() => !Host.HostIsActive(), 5), "deactivated");
        bridge.BringToFront();
        True(Host.RunUntil(Host.HostIsActive, 5), "brought to front");
        Equal("22.1", bridge.GetAppVersion(), "app version");
        string uuid = bridge.GetUUID();
        if (uuid != null)
        {
            True(System.Text.RegularExpressions.Regex.IsMatch(uuid,
                "^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"), "UUID form: " + uuid);
            Equal(uuid, bridge.GetUUID(), "UUID again");
        }
        string folder = FolderWith("clip.mp4");
        Environment.SetEnvironmentVariable("XDG_DATA_HOME", Path.Combine(folder, "data"));  // GNUstep's Trash
        True(bridge.TrashFile(Path.Combine(folder, "clip.mp4")), "trashed");
        True(!File.Exists(Path.Combine(folder, "clip.mp4")), "gone from its folder");
        True(!bridge.TrashFile(Path.Combine(folder, "clip.mp4")), "trashed twice");
    }

    static void CreateProcessReturnsOutput()
    {
        string child = Environment.GetEnvironmentVariable("DB_PROCESS_CHILD"), output;
        Equal(0, bridge.CreateProcess(child, new[] { "streams" }, null, true, out output), "streams status");
        Equal("out 1\nerr 1\nout 2\nerr 2\n", output, "streams output");
        Equal(0, bridge.CreateProcess(child, new[] { "hex", "c3bc" }, null, true, out output), "hex status");
        Equal("\u00fc", output, "UTF-8 output");
        Equal(3, bridge.CreateProcess(child, new[] { "exit", "3" }, null, true, out output), "exit status");
        Equal("", output, "no output");
        Equal(0, bridge.CreateProcess(child, new[] { "exit", "0" }, null, false, out output), "detached");
        Equal(null, output, "detached output");
        Equal(-1, bridge.CreateProcess("/nonexistent/program", new[] { "x" }, null, true, out output), "failed launch");
        True(!string.IsNullOrEmpty(output), "failure description");
        Throws<ArgumentException>(() => bridge.CreateProcess(child, new string[0], null, true, out output), "no arguments");
    }

    // ---- Stress --------------------------------------------------------------------------
    // Growth per call of the process heap over three windows of N calls after N calls of warm-up.
    // A binding that forgot to free an owned result keeps at least one heap chunk (32 bytes or more)
    // per call, one that kept every delegate keeps its native thunk (some 2 KB per call, measured):
    // that shows in every window, while a runtime's one-time growth shows in one. The bound, half a
    // chunk, is on the smallest window. The managed heap is printed, not bounded: Mono's collector
    // has kept some 30 bytes per call of garbage strings in whole runs (one in about eight).
    const int N = 3000, Windows = 3;
    const double Bound = 16.0;

    static void Slope(string name, Action<int> step)
    {
        double heap = double.MaxValue, managed = double.MaxValue;
        var seen = new List<string>();
        for (int i = 0; i < N; i++) step(i);
        for (int window = 1; window <= Windows; window++)
        {
            long first = Host.HostHeapBytes(), firstManaged = GC.GetTotalMemory(true);
            for (int i = window * N; i < (window + 1) * N; i++) step(i);
            double windowManaged = (GC.GetTotalMemory(true) - firstManaged) / (double)N;
            double windowHeap = (Host.HostHeapBytes() - first) / (double)N;
            heap = Math.Min(heap, windowHeap);
            managed = Math.Min(managed, windowManaged);
            seen.Add(string.Format("{0:F2}/{1:F2}", windowHeap, windowManaged));
        }
        Console.WriteLine("heap slope, {0}: {1:F2} bytes/call, managed heap {2:F2} bytes/call (each window, heap/managed: {3})",
            name, heap, managed, string.Join(" ", seen));
        True(heap < Bound, name + ": the heap grows " + heap + " bytes per call");
    }

    static void StressOwnedStrings()
    {
        Slope("owned strings (getAppVersion + getUUID)", i => { Equal("22.1", bridge.GetAppVersion(), "app version"); bridge.GetUUID(); });
    }

    static void StressCallbacksReplaced()
    {
        var heard = new int[2];  // what the latest calls reached; a growing record would grow the heap
        int wrong = 0;
        Slope("callbacks replaced", i =>
        {
            bridge.SetMenuCallback((tag, title) => heard[0] = int.Parse(tag));
            bridge.SetDragDropCallback(null, null, (x, y, paths) => heard[1] = -x);
            if (i % 10 == 0) { GC.Collect(); GC.WaitForPendingFinalizers(); }
            bridge.NotifyMenuSelected(i, "item");
            bridge.NotifyDragDrop(i, 0, new[] { "p" });
            if (heard[0] != i || heard[1] != -i) wrong++;
        });
        bridge.SetMenuCallback(null);
        bridge.SetDragDropCallback(null, null, null);
        Equal(0, wrong, "calls that reached another callback than the one registered just before");
    }

    static int Main(string[] args)
    {
        bridge = Bridge.Load(Environment.GetEnvironmentVariable("DB_BUNDLE_DIR"));
        var tests = new Action[] { DialogsPickAndCancel, AsyncDialogsReachTheCallback, MenuItemsRaiseTheCallback,
            CallbacksOutliveTheBridgeObject, VersionAndHostClasses, DropsAndOpenFileRequests, WindowAndSystemServices, CreateProcessReturnsOutput, StressOwnedStrings,
            StressCallbacksReplaced };
        int failed = 0;
        foreach (Action test in tests)
        {
            try
            {
                test();
                Console.WriteLine("ok      " + test.Method.Name);
            }
            catch (SkipException skip)
            {
                Console.WriteLine("skipped " + test.Method.Name + ": " + skip.Message);
            }
            catch (Exception e)
            {
                failed++;
                Console.WriteLine("FAILED  " + test.Method.Name + ": " + e.Message);
            }
        }
        Console.WriteLine("{0} of {1} passed", tests.Length - failed, tests.Length);
        return failed;
    }
}
