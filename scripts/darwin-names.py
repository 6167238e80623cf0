#!/usr/bin/env python3
"""Finds names that macOS lacks, or that Apple's libc++ marks unavailable at the bundle's oldest
macOS, in the code the macOS build compiles: every source in the given compile_commands.json and
every header of this tree that those sources include. Blocks that only GNUstep or other systems
compile (#if !defined(__APPLE__), #ifdef GNUSTEP, the #else of #if defined(__APPLE__), ...) are
passed over, as are comments. Prints each finding as file:line and exits 1 when there is any.

    darwin-names.py BUILD/compile_commands.json SOURCE_ROOT
"""
import json, os, re, shlex, sys

# Names macOS lacks (or Apple's libc++ marks unavailable before macOS 10.13-10.15), in code the
# macOS build compiles: outside blocks that only GNUstep or other systems compile.
FORBIDDEN = [
    (r"\bpipe2\s*\(", "pipe2 (Linux only: pipe, then fcntl FD_CLOEXEC)"),
    (r"\bclose_range\s*\(", "close_range (Linux only)"),
    (r"\baccept4\s*\(", "accept4 (Linux only)"),
    (r"\bepoll_\w+\s*\(", "epoll (Linux only: kqueue on macOS)"),
    (r"\bpidfd_\w+\s*\(", "pidfd (Linux only)"),
    (r"\bmallinfo2?\s*\(", "mallinfo (glibc only)"),
    (r"\bSOCK_(CLOEXEC|NONBLOCK)\b", "SOCK_CLOEXEC/SOCK_NONBLOCK (Linux only)"),
    (r"\"/proc/", "/proc (Linux only)"),
    (r"std::filesystem\b|#\s*include\s*<filesystem>", "std::filesystem (unavailable before macOS 10.15)"),
    (r"std::shared_mutex\b|std::shared_timed_mutex\b", "std::shared_mutex (unavailable before macOS 10.12)"),
    (r"std::any_cast\b", "std::any_cast (unavailable before macOS 10.13)"),
    (r"__attribute__\s*\(\(\s*weak\s*\)\)", "a weak symbol (Apple's linker does not resolve weak undefined references)"),
]
def excluded_condition(line):
    # 1: the block is compiled only off macOS; 0: only on macOS; None: both
    s = re.sub(r"\s+", " ", line.strip())
    if re.match(r"# ?(if !defined ?\(?__APPLE__\)?|ifndef __APPLE__|ifdef GNUSTEP|if defined ?\(?GNUSTEP\)?)$", s):
        return 1
    if re.match(r"# ?(if defined ?\(?__APPLE__\)?|ifdef __APPLE__|ifndef GNUSTEP|if !defined ?\(?GNUSTEP\)?)$", s):
        return 0
    return None
def code_files(commands_path, root):
    """The sources compiled and, transitively, the headers of the tree they include by name."""
    pending = []
    for entry in json.load(open(commands_path)):
        arguments = shlex.split(entry["command"])
        includes = [a[2:] for a in arguments if a.startswith("-I")]
        includes += [arguments[i + 1] for i, a in enumerate(arguments[:-1]) if a == "-I"]
        pending.append((os.path.realpath(entry["file"]), includes))
    seen = set()
    while pending:
        path, includes = pending.pop()
        if path in seen or not path.startswith(root + os.sep) or not os.path.isfile(path):
            continue
        seen.add(path)
        for line in open(path, encoding="utf-8", errors="replace"):
            match = re.match(r'\s*#\s*(?:include|import)\s*"([^"]+)"', line)
            if match:
                for folder in [os.path.dirname(path)] + includes:
                    candidate = os.path.realpath(os.path.join(folder, match.group(1)))
                    if os.path.isfile(candidate):
                        pending.append((candidate, includes))
                        break
    return sorted(seen)

root = os.path.realpath(sys.argv[2])
failures = 0
for path in code_files(sys.argv[1], root):
    # Per open #if: [a branch so far was compiled only on macOS, the current branch is compiled
    # only off macOS]. A branch after a macOS-only one (#elif, #else) is compiled only off macOS.
    stack = []
    in_comment = False
    for number, line in enumerate(open(path, encoding="utf-8", errors="replace"), 1):
        directive = re.match(r"\s*#\s*(\w+)", line)
        if directive:
            word = directive.group(1)
            if word in ("if", "ifdef", "ifndef"):
                kind = excluded_condition(line)
                stack.append([kind == 0, kind == 1])
            elif word == "elif" and stack:
                kind = excluded_condition(re.sub(r"#\s*elif", "#if", line, count=1))
                stack[-1][1] = stack[-1][0] or kind == 1
                stack[-1][0] = stack[-1][0] or kind == 0
            elif word == "else" and stack:
                stack[-1][1] = stack[-1][0]
            elif word == "endif" and stack:
                stack.pop()
        if any(off for _, off in stack):
            continue
        code = line
        if in_comment:
            end = code.find("*/")
            if end < 0:
                continue
            code, in_comment = code[end + 2:], False
        code = re.sub(r"/\*.*?\*/", "", code)
        if "/*" in code:
            code, in_comment = code[:code.index("/*")], True
        code = code.split("//")[0] if not re.search(r"\"[^\"]*//", code) else code
        for pattern, what in FORBIDDEN:
            if re.search(pattern, code):
                print(f"{os.path.relpath(path, root)}:{number}: {what}: {line.strip()}")
                failures += 1
sys.exit(1 if failures else 0)
