"""DesktopBridge from a plain python3 script: no shared application, no display.

What works here: the version, the hardware UUID, child processes, the Trash, and getAppVersion
(None unless the interpreter runs from an application bundle with a CFBundleVersion). The dialogs,
the menus and the window services need the shared application that a GUI host makes, and the
dialogs a display as well.

    python3 plain_script.py                          # finds the installed package with pkg-config
    PKG_CONFIG_PATH=/opt/desktopbridge/lib/pkgconfig python3 plain_script.py   # a custom prefix
    python3 plain_script.py --trash ~/scratch.txt    # also moves that file to the Trash

pkg-config gives the installed bundle (variable bundledir) and the bindings' folder (bindingsdir);
an install prefix outside pkg-config's search path needs PKG_CONFIG_PATH. --bundle and --bindings
name them directly instead (a build tree, for example). Exits 1 when a call fails.
"""
import argparse
import os
import subprocess
import sys


def installed(variable):
    """A path of the installed package, from pkg-config's variable."""
    try:
        return subprocess.run(["pkg-config", "--variable=" + variable, "desktopbridge"], check=True,
                              stdout=subprocess.PIPE, universal_newlines=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        sys.exit("plain_script: pkg-config does not know desktopbridge; set "
                 "PKG_CONFIG_PATH=<prefix>/lib/pkgconfig, or give --bundle and --bindings")


options = argparse.ArgumentParser(description="DesktopBridge from a plain script")
options.add_argument("--bundle", help="DesktopBridge.bundle (default: the installed one)")
options.add_argument("--bindings", help="the bindings folder (default: the installed one)")
options.add_argument("--trash", metavar="FILE", help="a file of yours to move to the Trash")
arguments = options.parse_args()

# The binding is one module in <bindings>/python: put that folder on the module path, then import.
sys.path.insert(0, os.path.join(arguments.bindings or installed("bindingsdir"), "python"))
import desktopbridge  # noqa: E402

bridge = desktopbridge.load(arguments.bundle or installed("bundledir"))
failed = False

print("binding", desktopbridge.__version__)
print("hardware UUID", bridge.get_uuid())            # None when it cannot be read
print("application version", bridge.get_app_version())  # None where the interpreter is no .app

# Waiting: (exit status, stdout and stderr in one str). Arguments go to the program as they are,
# never through a shell.
status, output = bridge.create_process("/bin/sh", ["-c", "echo hello from $0", "a child"])
print("child", status, output.strip())
failed |= status != 0
# A program that cannot be started: (-1, the reason).
status, output = bridge.create_process("no-such-program", [""])
print("not started", status, output)
failed |= status != -1

if arguments.trash is not None:
    moved = bridge.trash_file(arguments.trash)     # True when moved; False for any failure
    print("moved to the Trash" if moved else "not moved", arguments.trash)
    failed |= not moved

sys.exit(1 if failed else 0)
