# The Python binding from a plain python3 script: no shared application, no display. What the
# binding says works there (process, UUID, version, Trash) works, and nothing takes the script down.
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.environ["DB_BINDINGS_DIR"], "python"))
import desktopbridge  # noqa: E402

bridge = desktopbridge.load(os.environ["DB_BUNDLE_DIR"])
failures = []


def check(condition, what):
    print(("ok      " if condition else "FAILED  ") + what)
    if not condition:
        failures.append(what)


check(desktopbridge.__version__ == os.environ["DB_PROJECT_VERSION"], "version constant")
check(bridge.create_process(os.environ["DB_PROCESS_CHILD"], ["hex", "c3bc"]) == (0, "\u00fc"), "create_process")
uuid = bridge.get_uuid()
check(uuid is None or (len(uuid) == 36 and uuid == bridge.get_uuid()), "get_uuid: %s" % uuid)
version = bridge.get_app_version()
check(version is None or isinstance(version, str), "get_app_version: %s" % version)
if sys.platform == "darwin":
    print("skipped trash_file: macOS moves the file into the user's own Trash")
else:
    folder = tempfile.mkdtemp(prefix="db-plain-script-")
    os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")  # this process's Trash
    path = os.path.join(folder, "scratch.txt")
    open(path, "w").close()
    check(bridge.trash_file(path) and not os.path.exists(path), "trash_file")
sys.exit(1 if failures else 0)
