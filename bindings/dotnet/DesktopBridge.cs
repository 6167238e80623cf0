// DesktopBridge for C# hosts: one file to add to the host's project (C# 7.3, .NET Standard 2.0; it
// builds with Mono's mcs and with the .NET SDK).
//
//   var bridge = DesktopBridge.Bridge.Load("/path/to/DesktopBridge.bundle");
//   bridge.SetMenuCallback((tag, title) => Console.WriteLine("chosen " + tag + " " + title));
//   string[] paths = bridge.DialogOpenFilePanel("Pick a song", "", "Songs;mp3,ogg|All files;*", true);
//
// The bundle's binary is loaded by path with dlopen and its functions found with dlsym, through the
// C library (libdl.so.2 or libc.so.6 on Linux, libSystem on macOS), so the file works the same under
// Mono and .NET, on macOS and on Linux. What it does for its caller:
//   - Strings go in as UTF-8 (null passes a null pointer, which the bundle takes as ""). A string
//     with a NUL character, or a list item holding the list separator 0x1C, throws ArgumentException:
//     C would cut it short or split it without a word.
//   - Borrowed results (dialog results, callback texts, GetOpenFilename) are copied into C# strings at
//     once and never freed. Owned results (GetUUID, GetAppVersion, CreateProcess output) are copied
//     and then released with the process's free: dlsym of the process's global symbols, which gives
//     the free that pairs with the malloc the bundle calls also where an allocator replaces it (a
//     sanitizer, jemalloc); libc's own free by name would not.
//   - Every callback delegate is held by this object for as long as the bundle holds it: registering
//     another one (or null) replaces it, and the old one is let go only after the bundle has the new
//     one. An exception a callback throws is written to standard error and goes no further: it
//     cannot unwind through the bundle's native frames.
//   - Thread rules are the bundle's: each method says where it may be called. "Main thread" is the
//     thread that runs the application's event loop; callbacks arrive there.
//
// Left out: MakeCString, setOpenFilename and _notifyMenuSelected take platform string objects
// (NSString), which a C# caller cannot make; GetOpenFilename and the open-file callback give their
// results, and NotifyMenuSelected reaches the menu callback.
using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace DesktopBridge
{
    /// <summary>The loaded bundle. Make one per process with <see cref="Load"/>.</summary>
    public sealed class Bridge
    {
        public const char ListSeparator = '\x1c';
        const string SetAutoRestoreSymbol = "_Z14setAutoRestorev";

        // ---- Native function types -------------------------------------------------------
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void VoidFn();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void PtrFn(IntPtr a);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void PtrPtrFn(IntPtr a, IntPtr b);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void PtrPtrPtrFn(IntPtr a, IntPtr b, IntPtr c);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void IntIntPtrFn(int x, int y, IntPtr a);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate IntPtr ReturnPtrFn();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate float ReturnFloatFn();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        [return: MarshalAs(UnmanagedType.I1)] delegate bool PtrToBoolFn(IntPtr a);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate int CreateProcessFn(IntPtr path, IntPtr arguments, IntPtr directory,
            [MarshalAs(UnmanagedType.I1)] bool wait, ref IntPtr output);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate IntPtr OpenFileFn(IntPtr title, IntPtr directory, IntPtr filters, [MarshalAs(UnmanagedType.I1)] bool multi);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate void OpenFileAsyncFn(IntPtr title, IntPtr directory, IntPtr filters,
            [MarshalAs(UnmanagedType.I1)] bool multi, IntPtr callback);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate IntPtr OpenFolderFn(IntPtr title, IntPtr directory, [MarshalAs(UnmanagedType.I1)] bool multi);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate void OpenFolderAsyncFn(IntPtr title, IntPtr directory, [MarshalAs(UnmanagedType.I1)] bool multi,
            IntPtr callback);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate IntPtr SaveFileFn(IntPtr title, IntPtr directory, IntPtr name, IntPtr filters);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate void SaveFileAsyncFn(IntPtr title, IntPtr directory, IntPtr name, IntPtr filters, IntPtr callback);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        [return: MarshalAs(UnmanagedType.I1)]
        delegate bool AddMenuItemFn(int menu, int sub, IntPtr title, int tag, IntPtr key, int index,
            [MarshalAs(UnmanagedType.I1)] bool isSubMenu);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        [return: MarshalAs(UnmanagedType.I1)] delegate bool MenuItemQueryFn(int menu, int sub, int item);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void MenuFn(int menu, int sub);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        delegate void MenuItemFlagFn(int menu, int sub, int item, [MarshalAs(UnmanagedType.I1)] bool flag);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void MenuItemTextFn(int menu, int sub, int item, IntPtr text);

        // Callback types the bundle calls.
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void NativeTwoTexts(IntPtr a, IntPtr b);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void NativeNoArguments();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void NativeDrop(int x, int y, IntPtr paths);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate void NativeText(IntPtr text);

        readonly IntPtr library;
        readonly PtrFn free;
        readonly PtrFn setMenuCallback, setOpenFileCallback, setWindowTitle;
        readonly PtrPtrFn notifyMenuSelected;
        readonly PtrPtrPtrFn setDragDropCallback;
        readonly VoidFn notifyDragEnter, notifyDragExit, bringToFront, launchApp, setAutoRestore;
        readonly IntIntPtrFn notifyDragDrop;
        readonly ReturnPtrFn getOpenFilename, getUUID, getAppVersion;
        readonly ReturnFloatFn getScaleFactor;
        readonly PtrToBoolFn trashFile;
        readonly CreateProcessFn createProcess;
        readonly OpenFileFn dialogOpenFilePanel;
        readonly OpenFileAsyncFn dialogOpenFilePanelAsync;
        readonly OpenFolderFn dialogOpenFolderPanel;
        readonly OpenFolderAsyncFn dialogOpenFolderPanelAsync;
        readonly SaveFileFn dialogSaveFilePanel;
        readonly SaveFileAsyncFn dialogSaveFilePanelAsync;
        readonly AddMenuItemFn addMenuItem;
        readonly MenuItemQueryFn removeMenuItem, isMenuItemChecked;
        readonly MenuFn removeAllMenuItems;
        readonly MenuItemFlagFn setMenuItemEnabled, setMenuItemChecked;
        readonly MenuItemTextFn setMenuItemText;

        // The delegates the bundle holds, one entry per callback slot.
        readonly Dictionary<string, Delegate[]> held = new Dictionary<string, Delegate[]>();

        /// <summary>Loads the bundle: path is DesktopBridge.bundle (a directory) or the binary inside
        /// it. Load it on the main thread, after the host's own classes exist.</summary>
        public static Bridge Load(string path)
        {
            if (Directory.Exists(path))
                path = Path.Combine(path, CLibrary.IsMacOS ? "Contents/MacOS/DesktopBridge" : "DesktopBridge");
            return new Bridge(path);
        }

        Bridge(string binaryPath)
        {
            library = CLibrary.Open(binaryPath);
            free = (PtrFn)Marshal.GetDelegateForFunctionPointer(CLibrary.Symbol(CLibrary.Open(null), "free"),
                typeof(PtrFn));
            setMenuCallback = Fn<PtrFn>("setMenuCallback");
            notifyMenuSelected = Fn<PtrPtrFn>("notifyMenuSelected");
            setDragDropCallback = Fn<PtrPtrPtrFn>("setDragDropCallback");
            notifyDragEnter = Fn<VoidFn>("notifyDragEnter");
            notifyDragExit = Fn<VoidFn>("notifyDragExit");
            notifyDragDrop = Fn<IntIntPtrFn>("notifyDragDrop");
            setOpenFileCallback = Fn<PtrFn>("setOpenFileCallback");
            getOpenFilename = Fn<ReturnPtrFn>("getOpenFilename");
            setWindowTitle = Fn<PtrFn>("setWindowTitle");
            getScaleFactor = Fn<ReturnFloatFn>("getScaleFactor");
            bringToFront = Fn<VoidFn>("bringToFront");
            launchApp = Fn<VoidFn>("launchApp");
            trashFile = Fn<PtrToBoolFn>("trashFile");
            getUUID = Fn<ReturnPtrFn>("getUUID");
            getAppVersion = Fn<ReturnPtrFn>("getAppVersion");
            setAutoRestore = Fn<VoidFn>(SetAutoRestoreSymbol);
            createProcess = Fn<CreateProcessFn>("createProcess");
            dialogOpenFilePanel = Fn<OpenFileFn>("DialogOpenFilePanel");
            dialogOpenFilePanelAsync = Fn<OpenFileAsyncFn>("DialogOpenFilePanelAsync");
            dialogOpenFolderPanel = Fn<OpenFolderFn>("DialogOpenFolderPanel");
            dialogOpenFolderPanelAsync = Fn<OpenFolderAsyncFn>("DialogOpenFolderPanelAsync");
            dialogSaveFilePanel = Fn<SaveFileFn>("DialogSaveFilePanel");
            dialogSaveFilePanelAsync = Fn<SaveFileAsyncFn>("DialogSaveFilePanelAsync");
            addMenuItem = Fn<AddMenuItemFn>("addMenuItem");
            removeMenuItem = Fn<MenuItemQueryFn>("removeMenuItem");
            removeAllMenuItems = Fn<MenuFn>("removeAllMenuItems");
            setMenuItemEnabled = Fn<MenuItemFlagFn>("setMenuItemEnabled");
            setMenuItemChecked = Fn<MenuItemFlagFn>("setMenuItemChecked");
            isMenuItemChecked = Fn<MenuItemQueryFn>("isMenuItemChecked");
            setMenuItemText = Fn<MenuItemTextFn>("setMenuItemText");
        }

        T Fn<T>(string name) where T : class
        {
            return Marshal.GetDelegateForFunctionPointer(CLibrary.Symbol(library, name), typeof(T)) as T;
        }

        // ---- Strings ---------------------------------------------------------------------

        // UTF-8 copies of the strings of one call, freed when the call is over.
        sealed class Utf8Arguments : IDisposable
        {
            readonly List<IntPtr> blocks = new List<IntPtr>();

            public IntPtr In(string text)
            {
                if (text == null) return IntPtr.Zero;
                if (text.IndexOf('\0') >= 0)
                    throw new ArgumentException("a string for the bundle cannot hold a NUL character");
                byte[] bytes = Encoding.UTF8.GetBytes(text);
                IntPtr block = Marshal.AllocHGlobal(bytes.Length + 1);
                blocks.Add(block);
                Marshal.Copy(bytes, 0, block, bytes.Length);
                Marshal.WriteByte(block, bytes.Length, 0);
                return block;
            }

            public IntPtr List(string[] items)
            {
                if (items == null) return IntPtr.Zero;
                foreach (string item in items)
                    if (item != null && item.IndexOf(ListSeparator) >= 0)
                        throw new ArgumentException("a list item cannot hold the list separator 0x1C");
                return In(string.Join(ListSeparator.ToString(), items));
            }

            public void Dispose()
            {
                foreach (IntPtr block in blocks) Marshal.FreeHGlobal(block);
            }
        }

        // A copy of a borrowed string (null for a null pointer); the bundle keeps the original.
        static string Borrowed(IntPtr text)
        {
            if (text == IntPtr.Zero) return null;
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) length++;
            byte[] bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }

        static string[] Split(IntPtr text)
        {
            string joined = Borrowed(text);
            return string.IsNullOrEmpty(joined) ? new string[0] : joined.Split(ListSeparator);
        }

        // A copy of an owned string, whose block is then freed (null for a null pointer).
        string Owned(IntPtr text)
        {
            if (text == IntPtr.Zero) return null;
            try { return Borrowed(text); }
            finally { free(text); }
        }

        static void Guarded(Action call)
        {
            try { call(); }
            catch (Exception e) { Console.Error.WriteLine("DesktopBridge: a callback threw " + e); }
        }

        // Registers the native delegates (null: a null pointer), then lets go of the ones they replace.
        void Hold(string slot, Delegate[] natives, Action<IntPtr[]> register)
        {
            var pointers = new IntPtr[natives.Length];
            for (int i = 0; i < natives.Length; i++)
                pointers[i] = natives[i] == null ? IntPtr.Zero : Marshal.GetFunctionPointerForDelegate(natives[i]);
            lock (held)  // asynchronous dialogs may be asked for from any thread
            {
                register(pointers);
                Delegate[] previous;
                // A request from another thread may come just as the main thread takes the callback
                // it replaces to call it: that one is kept for one more request.
                if (slot == "dialog" && held.TryGetValue(slot, out previous)) held["dialog before"] = previous;
                held[slot] = natives;
            }
        }

        // ---- Host callbacks --------------------------------------------------------------

        /// <summary>callback(tag, title) when a menu item is chosen or a managed submenu opens; tag is
        /// the item's tag as decimal text. Null turns it off. Main thread, or before menus are used.</summary>
        public void SetMenuCallback(Action<string, string> callback)
        {
            NativeTwoTexts native = null;
            if (callback != null)
                native = (tag, title) => Guarded(() => callback(Borrowed(tag) ?? "", Borrowed(title) ?? ""));
            Hold("menu", new Delegate[] { native }, p => setMenuCallback(p[0]));
        }

        /// <summary>Calls the menu callback with tag (as decimal text) and title. Main thread.</summary>
        public void NotifyMenuSelected(long tag, string title)
        {
            using (var s = new Utf8Arguments()) notifyMenuSelected(s.In(tag.ToString()), s.In(title));
        }

        /// <summary>enter(), exit() and drop(x, y, paths) for file drags on the main view; null turns
        /// one off. x and y are the drop point in backing pixels of the receiving window. Main thread.</summary>
        public void SetDragDropCallback(Action enter, Action exit, Action<int, int, string[]> drop)
        {
            NativeNoArguments nativeEnter = null, nativeExit = null;
            NativeDrop nativeDrop = null;
            if (enter != null) nativeEnter = () => Guarded(enter);
            if (exit != null) nativeExit = () => Guarded(exit);
            if (drop != null) nativeDrop = (x, y, paths) => Guarded(() => drop(x, y, Split(paths)));
            Hold("drag", new Delegate[] { nativeEnter, nativeExit, nativeDrop }, p => setDragDropCallback(p[0], p[1], p[2]));
        }

        /// <summary>Calls the drag-enter callback. Main thread.</summary>
        public void NotifyDragEnter() { notifyDragEnter(); }

        /// <summary>Calls the drag-exit callback. Main thread.</summary>
        public void NotifyDragExit() { notifyDragExit(); }

        /// <summary>Calls the drop callback with x, y and the paths. Main thread.</summary>
        public void NotifyDragDrop(int x, int y, string[] paths)
        {
            using (var s = new Utf8Arguments()) notifyDragDrop(x, y, s.List(paths));
        }

        /// <summary>callback(path) for each request of the system to open a file; null turns it off.
        /// Main thread.</summary>
        public void SetOpenFileCallback(Action<string> callback)
        {
            NativeText native = null;
            if (callback != null) native = path => Guarded(() => callback(Borrowed(path) ?? ""));
            Hold("open", new Delegate[] { native }, p => setOpenFileCallback(p[0]));
        }

        /// <summary>The path of the most recent open-file request (the exported savedFilename holds
        /// the same), or null before the first one. Any thread.</summary>
        public string GetOpenFilename() { return Borrowed(getOpenFilename()); }

        // ---- Window, application and system services -------------------------------------

        /// <summary>Sets the main window's title; nothing happens without a main window. Main thread.</summary>
        public void SetWindowTitle(string title)
        {
            using (var s = new Utf8Arguments()) setWindowTitle(s.In(title));
        }

        /// <summary>The first window's backing scale factor (the main screen's, or 1.0). Main thread.</summary>
        public float GetScaleFactor() { return getScaleFactor(); }

        /// <summary>Activates the application and de-miniaturizes its first window. Main thread.</summary>
        public void BringToFront() { bringToFront(); }

        /// <summary>Starts another instance of the application without waiting for it. Main thread.</summary>
        public void LaunchApp() { launchApp(); }

        /// <summary>Moves the item at path to the Trash: true when moved. Main thread.</summary>
        public bool TrashFile(string path)
        {
            using (var s = new Utf8Arguments()) return trashFile(s.In(path));
        }

        /// <summary>The hardware UUID (8-4-4-4-12, upper case), or null when it cannot be read. Main thread.</summary>
        public string GetUUID() { return Owned(getUUID()); }

        /// <summary>The application's CFBundleVersion, or null when it has none. Main thread.</summary>
        public string GetAppVersion() { return Owned(getAppVersion()); }

        /// <summary>Saves and restores the main window's frame under its represented file name. Main thread.</summary>
        public void SetAutoRestore() { setAutoRestore(); }

        /// <summary>Runs launchPath with the arguments (at least one; never through a shell), in
        /// workingDirectory (null: the host's). Waiting: returns the exit status (the signal number for
        /// a child killed by a signal) with the combined stdout+stderr in output (null when it is not
        /// UTF-8). Detached: returns 0 once launched, output null. A failed launch returns -1 with
        /// its description in output. Any thread, several at once.</summary>
        public int CreateProcess(string launchPath, string[] arguments, string workingDirectory, bool waitForExit,
            out string output)
        {
            if (arguments == null || arguments.Length == 0)
                throw new ArgumentException("createProcess takes at least one argument (the bundle cannot pass none)");
            IntPtr native = IntPtr.Zero;
            int status;
            using (var s = new Utf8Arguments())
                status = createProcess(s.In(launchPath), s.List(arguments), s.In(workingDirectory), waitForExit, ref native);
            output = Owned(native);
            return status;
        }

        // ---- File dialogs ----------------------------------------------------------------
        // filters is a filter specification: "Name;ext1,ext2" entries joined by "|". Open results are
        // arrays of paths (empty when cancelled), save results one path ("" when cancelled).

        /// <summary>Runs an open panel modally. Main thread only.</summary>
        public string[] DialogOpenFilePanel(string title, string directory, string filters, bool multiselect)
        {
            using (var s = new Utf8Arguments())
                return Split(dialogOpenFilePanel(s.In(title), s.In(directory), s.In(filters), multiselect));
        }

        /// <summary>Runs a folder panel modally. Main thread only.</summary>
        public string[] DialogOpenFolderPanel(string title, string directory, bool multiselect)
        {
            using (var s = new Utf8Arguments())
                return Split(dialogOpenFolderPanel(s.In(title), s.In(directory), multiselect));
        }

        /// <summary>Runs a save panel modally. Main thread only.</summary>
        public string DialogSaveFilePanel(string title, string directory, string defaultName, string filters)
        {
            using (var s = new Utf8Arguments())
                return Borrowed(dialogSaveFilePanel(s.In(title), s.In(directory), s.In(defaultName), s.In(filters))) ?? "";
        }

        // The callback of the latest asynchronous request (open or save) gets every result that
        // arrives after it, once per request: all three forms share one slot.
        NativeText DialogCallback<T>(Action<T> callback, Func<IntPtr, T> convert)
        {
            if (callback == null) return null;
            return result => Guarded(() => callback(convert(result)));
        }

        /// <summary>Returns at once, from any thread; the panel runs on the main thread, which calls
        /// callback(paths) there (empty when cancelled). Null drops the result.</summary>
        public void DialogOpenFilePanelAsync(string title, string directory, string filters, bool multiselect,
            Action<string[]> callback)
        {
            NativeText native = DialogCallback(callback, Split);
            using (var s = new Utf8Arguments())
                Hold("dialog", new Delegate[] { native },
                    p => dialogOpenFilePanelAsync(s.In(title), s.In(directory), s.In(filters), multiselect, p[0]));
        }

        /// <summary>As DialogOpenFilePanelAsync, for folders: returns at once, from any thread; the
        /// panel runs on the main thread, which calls callback(paths) there.</summary>
        public void DialogOpenFolderPanelAsync(string title, string directory, bool multiselect, Action<string[]> callback)
        {
            NativeText native = DialogCallback(callback, Split);
            using (var s = new Utf8Arguments())
                Hold("dialog", new Delegate[] { native },
                    p => dialogOpenFolderPanelAsync(s.In(title), s.In(directory), multiselect, p[0]));
        }

        /// <summary>Returns at once, from any thread; callback(path) on the main thread, "" when
        /// cancelled. Null drops the result.</summary>
        public void DialogSaveFilePanelAsync(string title, string directory, string defaultName, string filters,
            Action<string> callback)
        {
            NativeText native = DialogCallback(callback, r => Borrowed(r) ?? "");
            using (var s = new Utf8Arguments())
                Hold("dialog", new Delegate[] { native },
                    p => dialogSaveFilePanelAsync(s.In(title), s.In(directory), s.In(defaultName), s.In(filters), p[0]));
        }

        // ---- Menus -----------------------------------------------------------------------
        // A menu is named by (menuTag, subMenuTag): (0, 0) the main menu, (0, 1) the dock menu, (0, s)
        // the submenu of the main-menu item tagged s, (m, s) the submenu of the item tagged s in the
        // submenu of the main-menu item tagged m. All main thread.

        /// <summary>Adds an item ("" title: a separator) at index (negative: appended); false when
        /// there is no such menu. Main thread.</summary>
        public bool AddMenuItem(int menuTag, int subMenuTag, string title, int tag, string keyEquivalent = "",
            int index = -1, bool isSubMenu = false)
        {
            using (var s = new Utf8Arguments())
                return addMenuItem(menuTag, subMenuTag, s.In(title), tag, s.In(keyEquivalent), index, isSubMenu);
        }

        /// <summary>Removes the first item tagged itemTag: false when the menu or item is missing. Main thread.</summary>
        public bool RemoveMenuItem(int menuTag, int subMenuTag, int itemTag) { return removeMenuItem(menuTag, subMenuTag, itemTag); }

        /// <summary>Empties the menu, if there is one. Main thread.</summary>
        public void RemoveAllMenuItems(int menuTag, int subMenuTag) { removeAllMenuItems(menuTag, subMenuTag); }

        /// <summary>Main thread.</summary>
        public void SetMenuItemEnabled(int menuTag, int subMenuTag, int itemTag, bool enabled)
        {
            setMenuItemEnabled(menuTag, subMenuTag, itemTag, enabled);
        }

        /// <summary>Main thread.</summary>
        public void SetMenuItemChecked(int menuTag, int subMenuTag, int itemTag, bool isChecked)
        {
            setMenuItemChecked(menuTag, subMenuTag, itemTag, isChecked);
        }

        /// <summary>True only when the item exists and is checked. Main thread.</summary>
        public bool IsMenuItemChecked(int menuTag, int subMenuTag, int itemTag) { return isMenuItemChecked(menuTag, subMenuTag, itemTag); }

        /// <summary>Retitles the item. Main thread.</summary>
        public void SetMenuItemText(int menuTag, int subMenuTag, int itemTag, string text)
        {
            using (var s = new Utf8Arguments()) setMenuItemText(menuTag, subMenuTag, itemTag, s.In(text));
        }
    }

    // dlopen and dlsym from whichever C library this system keeps them in.
    static class CLibrary
    {
        const int RtldNow = 2;
        const int MacRtldLocal = 4;  // 0 on Linux, where local is the default

        static class GlibcDl
        {
            [DllImport("libdl.so.2")] public static extern IntPtr dlopen(byte[] path, int mode);
            [DllImport("libdl.so.2")] public static extern IntPtr dlsym(IntPtr handle, byte[] name);
            [DllImport("libdl.so.2")] public static extern IntPtr dlerror();
        }

        static class Glibc
        {
            [DllImport("libc.so.6")] public static extern IntPtr dlopen(byte[] path, int mode);
            [DllImport("libc.so.6")] public static extern IntPtr dlsym(IntPtr handle, byte[] name);
            [DllImport("libc.so.6")] public static extern IntPtr dlerror();
        }

        static class LibSystem
        {
            [DllImport("/usr/lib/libSystem.dylib")] public static extern IntPtr dlopen(byte[] path, int mode);
            [DllImport("/usr/lib/libSystem.dylib")] public static extern IntPtr dlsym(IntPtr handle, byte[] name);
            [DllImport("/usr/lib/libSystem.dylib")] public static extern IntPtr dlerror();
        }

        enum Source { Unknown, GlibcDl, Glibc, LibSystem }
        static Source source;

        public static bool IsMacOS { get { Choose(); return source == Source.LibSystem; } }

        static void Choose()
        {
            if (source != Source.Unknown) return;
            try { GlibcDl.dlerror(); source = Source.GlibcDl; return; }
            catch (DllNotFoundException) { }
            catch (EntryPointNotFoundException) { }
            try { Glibc.dlerror(); source = Source.Glibc; return; }
            catch (DllNotFoundException) { }
            catch (EntryPointNotFoundException) { }
            LibSystem.dlerror();
            source = Source.LibSystem;
        }

        static byte[] Text(string text)
        {
            return text == null ? null : Encoding.UTF8.GetBytes(text + "\0");
        }

        static string LastError()
        {
            IntPtr error = source == Source.GlibcDl ? GlibcDl.dlerror()
                : source == Source.Glibc ? Glibc.dlerror() : LibSystem.dlerror();
            return error == IntPtr.Zero ? "unknown error" : Marshal.PtrToStringAnsi(error);
        }

        /// <summary>dlopen(path, RTLD_NOW | RTLD_LOCAL); null opens the process's own symbols.</summary>
        public static IntPtr Open(string path)
        {
            Choose();
            byte[] name = Text(path);
            IntPtr handle = source == Source.GlibcDl ? GlibcDl.dlopen(name, RtldNow)
                : source == Source.Glibc ? Glibc.dlopen(name, RtldNow) : LibSystem.dlopen(name, RtldNow | MacRtldLocal);
            if (handle == IntPtr.Zero) throw new DllNotFoundException("cannot load " + path + ": " + LastError());
            return handle;
        }

        public static IntPtr Symbol(IntPtr handle, string name)
        {
            byte[] symbol = Text(name);
            IntPtr address = source == Source.GlibcDl ? GlibcDl.dlsym(handle, symbol)
                : source == Source.Glibc ? Glibc.dlsym(handle, symbol) : LibSystem.dlsym(handle, symbol);
            if (address == IntPtr.Zero) throw new EntryPointNotFoundException(name + ": " + LastError());
            return address;
        }
    }
}
