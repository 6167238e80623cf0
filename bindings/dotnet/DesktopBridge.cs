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
//   - Callbacks live as long as the process: the bundle's slots do, and the bundle cannot be
//     unloaded. Every callback delegate the bundle may call is held statically (not by the Bridge
//     object, which may be dropped), under one lock, so that registrations from several threads
//     always leave held what the bundle holds. Registering another one (or null) replaces it; the
//     replaced one is let go only after the bundle has the new one, and only once the one after it
//     has come (it may be running while it is replaced).
//   - An exception a callback throws is written to standard error ("DesktopBridge: a callback
//     threw ...") and goes no further: it cannot unwind through the bundle's native frames.
//   - Thread rules are the bundle's: each method says where it may be called. "Main thread" is the
//     thread that runs the application's event loop; callbacks arrive there.
//
// What needs a shared application or a display. The bundle works on the application the host made
// ([NSApplication sharedApplication], with its event loop on the main thread):
//   - Needs neither (works from a console program): CreateProcess, GetUUID, TrashFile,
//     GetAppVersion (null unless the process is an application bundle with a CFBundleVersion),
//     GetOpenFilename, and registering and notifying callbacks.
//   - Needs the shared application: the menu methods (they edit its main menu and dock menu:
//     without one AddMenuItem returns false), SetWindowTitle, BringToFront, SetAutoRestore (they act
//     on its main window: without one they do nothing), LaunchApp (starts the application's own
//     executable again).
//   - Needs a display as well (the window server on macOS, an X display on GNUstep): the file
//     dialogs, whose panels are windows run modally in the application's event loop, and
//     GetScaleFactor, which reads a window's or the main screen's backing scale (1.0 without).
//
// Left out: MakeCString, setOpenFilename and _notifyMenuSelected take platform string objects
// (NSString), which a C# caller cannot make; GetOpenFilename and the open-file callback give their
// results, and NotifyMenuSelected reaches the menu callback.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace DesktopBridge
{
    /// <summary>The loaded bundle. Make one per process with <see cref="Load"/>.</summary>
    public sealed class Bridge
    {
        /// <summary>The release of DesktopBridge this file was made with; use it with a bundle of the
        /// same release.</summary>
        public const string Version = "1.0.0";
        public const char ListSeparator = '\x1c';

        // AttachHostClasses' result: one bit per handler, in the order the bundle installs them.
        public const int HandlerDockMenu = 0x01;     // applicationDockMenu:      delegate class
        public const int HandlerOpenFile = 0x02;     // application:openFile:     delegate class
        public const int HandlerDragEntered = 0x04;  // draggingEntered:          view class
        public const int HandlerDragExited = 0x08;   // draggingExited:           view class
        public const int HandlerPrepareDrag = 0x10;  // prepareForDragOperation:  view class
        public const int HandlerPerformDrag = 0x20;  // performDragOperation:     view class
        public const int HandlersAll = 0x3F;
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
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] delegate int AttachHostClassesFn(IntPtr delegateClass, IntPtr viewClass);

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
        readonly AttachHostClassesFn attachHostClasses;  // null for a bundle older than the export

        // The delegates the bundle holds, for the life of the process: slot -> the ones it holds now,
        // slot + " before" -> the ones they replaced, which may still be running.
        static readonly Dictionary<string, Delegate[]> held = new Dictionary<string, Delegate[]>();

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
            try { attachHostClasses = Fn<AttachHostClassesFn>("attachHostClasses"); }
            catch (EntryPointNotFoundException) { attachHostClasses = null; }
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
        static void Hold(string slot, Delegate[] natives, Action<IntPtr[]> register)
        {
            var pointers = new IntPtr[natives.Length];
            for (int i = 0; i < natives.Length; i++)
                pointers[i] = natives[i] == null ? IntPtr.Zero : Marshal.GetFunctionPointerForDelegate(natives[i]);
            lock (held)
            {
                register(pointers);
                Delegate[] previous;
                if (held.TryGetValue(slot, out previous)) held[slot + " before"] = previous;
                held[slot] = natives;
            }
        }

        // ---- Host classes ----------------------------------------------------------------

        /// <summary>Grafts the bundle's handlers onto the host's own classes, for a host whose
        /// application delegate and main view are not named PlayerAppDelegate and PlayerWindowView (a
        /// framework's or a runtime's classes): the dock-menu and open-file handlers onto the delegate
        /// class, the four drag handlers onto the view class. Null or "" skips that class. Returns the
        /// set of Handler* bits that are the bundle's on those classes after the call (also those an
        /// earlier call or the load made: calling twice is safe); 0 when nothing took. Call it once
        /// the classes exist. Main thread; needs no shared application.</summary>
        public int AttachHostClasses(string delegateClassName, string viewClassName)
        {
            if (attachHostClasses == null)
                throw new EntryPointNotFoundException("this DesktopBridge bundle has no attachHostClasses export: "
                    + "it is older than this binding (" + Version + ")");
            using (var s = new Utf8Arguments()) return attachHostClasses(s.In(delegateClassName), s.In(viewClassName));
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
            using (var s = new Utf8Arguments())
                notifyMenuSelected(s.In(tag.ToString(CultureInfo.InvariantCulture)), s.In(title));
        }

        /// <summary>enter(), exit() and drop(x, y, paths) for file drags on the main view; null turns
        /// one off. x and y are the drop point in backing pixels of the receiving window. The three
        /// are replaced as one set. Main thread.</summary>
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

        /// <summary>The main window's backing scale factor (the main screen's, or 1.0). Main thread.</summary>
        public float GetScaleFactor() { return getScaleFactor(); }

        /// <summary>Activates the application and de-miniaturizes its main window; on macOS 14 and
        /// later the system may refuse the activation (the window is still ordered front). Main thread.</summary>
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
        // arrays of paths (empty when cancelled), save results one path ("" when cancelled). Every
        // dialog needs the shared application and a display. Synchronous forms run the panel
        // modally: main thread only. Asynchronous forms return at once from any thread; the panel runs
        // modally on the main thread in its event loop (inside the host's next event pump, for a host
        // that pumps events itself). After any panel closes, the window that was key before it is key
        // again.
        //
        // The shared slot: the asynchronous forms share one callback slot in the bundle. Each result
        // goes to the callback of the LATEST asynchronous request, whichever form made it, also the
        // result of a panel requested earlier and still up. Each callback gets its own shape all the
        // same: an open or folder callback a string[] (a save panel's path as a one-item array), a
        // save callback one string (an open panel's first path). A null callback drops the results.

        /// <summary>Runs an open panel modally. Main thread only.</summary>
        public string[] DialogOpenFilePanel(string title, string directory, string filters, bool multiselect = false)
        {
            using (var s = new Utf8Arguments())
                return Split(dialogOpenFilePanel(s.In(title), s.In(directory), s.In(filters), multiselect));
        }

        /// <summary>Runs a folder panel modally. Main thread only.</summary>
        public string[] DialogOpenFolderPanel(string title, string directory, bool multiselect = false)
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

        // The bundle's slot always holds this one delegate, made once for the process; it calls the
        // latest request's callback with the result in that callback's own shape.
        static readonly NativeText dialogDispatcher = DeliverDialogResult;
        static volatile Action<IntPtr> dialogLatest;  // the latest request's callback, or null

        static void DeliverDialogResult(IntPtr result)
        {
            Action<IntPtr> latest = dialogLatest;
            if (latest != null) Guarded(() => latest(result));
        }

        // An open panel's first path, or the save panel's path; "" for nothing chosen.
        static string OnePath(IntPtr result)
        {
            string[] paths = Split(result);
            return paths.Length > 0 ? paths[0] : "";
        }

        // Makes callback the shared slot's, then calls the export with the dispatcher.
        static void Request<T>(Action<T> callback, Func<IntPtr, T> shape, Action<IntPtr> call)
        {
            Hold("dialog", new Delegate[] { dialogDispatcher }, pointers =>
            {
                dialogLatest = callback == null ? (Action<IntPtr>)null : result => callback(shape(result));
                call(pointers[0]);
            });
        }

        /// <summary>Returns at once, from any thread; the panel runs on the main thread, which calls
        /// callback(paths) there (empty when cancelled). See the shared slot above.</summary>
        public void DialogOpenFilePanelAsync(string title, string directory, string filters, bool multiselect,
            Action<string[]> callback)
        {
            using (var s = new Utf8Arguments())
            {
                IntPtr t = s.In(title), d = s.In(directory), f = s.In(filters);
                Request(callback, Split, native => dialogOpenFilePanelAsync(t, d, f, multiselect, native));
            }
        }

        /// <summary>As above, one file at a time (multiselect false, as the synchronous form's default).</summary>
        public void DialogOpenFilePanelAsync(string title, string directory, string filters, Action<string[]> callback)
        {
            DialogOpenFilePanelAsync(title, directory, filters, false, callback);
        }

        /// <summary>As DialogOpenFilePanelAsync, for folders: returns at once, from any thread; the
        /// panel runs on the main thread, which calls callback(paths) there.</summary>
        public void DialogOpenFolderPanelAsync(string title, string directory, bool multiselect, Action<string[]> callback)
        {
            using (var s = new Utf8Arguments())
            {
                IntPtr t = s.In(title), d = s.In(directory);
                Request(callback, Split, native => dialogOpenFolderPanelAsync(t, d, multiselect, native));
            }
        }

        /// <summary>As above, one folder at a time (multiselect false, as the synchronous form's default).</summary>
        public void DialogOpenFolderPanelAsync(string title, string directory, Action<string[]> callback)
        {
            DialogOpenFolderPanelAsync(title, directory, false, callback);
        }

        /// <summary>Returns at once, from any thread; callback(path) on the main thread, "" when
        /// cancelled. See the shared slot above.</summary>
        public void DialogSaveFilePanelAsync(string title, string directory, string defaultName, string filters,
            Action<string> callback)
        {
            using (var s = new Utf8Arguments())
            {
                IntPtr t = s.In(title), d = s.In(directory), n = s.In(defaultName), f = s.In(filters);
                Request(callback, OnePath, native => dialogSaveFilePanelAsync(t, d, n, f, native));
            }
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
