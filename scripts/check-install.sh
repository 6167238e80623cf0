#!/usr/bin/env bash
# What a host developer gets from a build: installs it into a temporary prefix, checks the
# installed tree and that the header compiles alone, moves the tree elsewhere (the package must not
# depend on where it was installed), builds examples/c-host against the moved tree with
# find_package and runs it, runs the README's lines that install the package and build every
# example exactly as they are written, runs those examples (the AppKit ones on GNUstep with a
# display), checks the README's copies of the examples, reads the pkg-config file, and makes the
# cpack archive.
#   check-install.sh BUILD_DIR
set -euo pipefail
source_root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "check-install: $*" >&2; failures=$((failures + 1)); }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
case "$(uname -s)" in
  Darwin) bundle_binary=Contents/MacOS/DesktopBridge ;;
  *) bundle_binary=DesktopBridge ;;
esac

cmake --install "$build" --prefix "$work/installed" > "$work/install.log" || { cat "$work/install.log"; exit 1; }
for file in include/DesktopBridge.h include/DesktopBridgeVersion.h "lib/DesktopBridge.bundle/$bundle_binary" \
    lib/cmake/DesktopBridge/DesktopBridgeConfig.cmake lib/cmake/DesktopBridge/DesktopBridgeConfigVersion.cmake \
    lib/pkgconfig/desktopbridge.pc share/doc/DesktopBridge/host-guide.md share/doc/DesktopBridge/bad-input.md \
    share/doc/DesktopBridge/LICENSE share/doc/DesktopBridge/CHANGELOG.md \
    share/DesktopBridge/bindings/dotnet/DesktopBridge.cs share/DesktopBridge/bindings/python/desktopbridge.py \
    share/DesktopBridge/testing/DesktopBridgeAnswerPanels.h share/DesktopBridge/testing/DesktopBridgeAnswerPanels.m; do
  [ -f "$work/installed/$file" ] || fail "not installed: $file"
done
[ "$(uname -s)" = Darwin ] || [ -f "$work/installed/lib/DesktopBridge.bundle/Resources/Info-gnustep.plist" ] ||
  fail "not installed: the bundle's Info-gnustep.plist"
grep -q "#define DB_VERSION_STRING \"$version\"" "$work/installed/include/DesktopBridgeVersion.h" ||
  fail "the installed header does not say version $version"
if [ "$(uname -s)" = Darwin ]; then
  codesign --verify "$work/installed/lib/DesktopBridge.bundle" || fail "the installed bundle is not signed"
fi

# The header alone, as a host that copies only it has it: compiles as C and C++ and says the
# version; with the version header beside it, both say the same without a conflict.
mkdir "$work/header-alone"
cp "$source_root/include/DesktopBridge.h" "$work/header-alone/"
printf '#include "DesktopBridge.h"\n#include <stdio.h>\nint main(void) { puts(DB_VERSION_STRING); return 0; }\n' \
  > "$work/header-alone/version.c"
for language in c c++; do
  compiler=${CC:-cc}
  [ "$language" = c ] || compiler=${CXX:-c++}
  if $compiler -x "$language" -Wall -Wextra -Werror -I"$work/header-alone" "$work/header-alone/version.c" \
      -o "$work/header-alone/version" 2> "$work/header-alone/errors"; then
    [ "$("$work/header-alone/version")" = "$version" ] || fail "the header alone says another version ($language)"
  else
    cat "$work/header-alone/errors" >&2
    fail "the header alone does not compile as $language"
  fi
done
printf '#include "DesktopBridgeVersion.h"\n#include "DesktopBridge.h"\nint main(void) { return 0; }\n' > "$work/both.c"
${CC:-cc} -Wall -Werror -I"$work/installed/include" "$work/both.c" -o "$work/both" ||
  fail "DesktopBridge.h and DesktopBridgeVersion.h conflict"

# Relocatable: no text file of the package names the build, the sources or the prefix it went to.
for path in "$build" "$source_root" "$work/installed"; do
  hits=$(grep -rlF "$path" "$work/installed/lib/cmake" "$work/installed/lib/pkgconfig" "$work/installed/include" || true)
  [ -z "$hits" ] || fail "installed files name $path: $hits"
done
mv "$work/installed" "$work/moved"
prefix=$work/moved

# The example, as a host developer builds it: find_package(DesktopBridge 1.0) from the moved prefix.
if cmake -S "$source_root/examples/c-host" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
    > "$work/example.log" 2>&1 && cmake --build "$work/example" >> "$work/example.log" 2>&1; then
  output=$("$work/example/c-host" 2>/dev/null) || fail "the example failed: $output"
  echo "$output" | sed 's/^/check-install: c-host: /'
  grep -qx "DesktopBridge $version" <<<"$output" || fail "the example did not print the version"
  grep -qx "createProcess: status 0, output: hello from a child" <<<"$output" ||
    fail "the example's child process did not run from the installed bundle"
  grep -qx "getOpenFilename: (no request yet)" <<<"$output" || fail "the example's getOpenFilename gave something"
  grep -qF "$prefix/lib/DesktopBridge.bundle/$bundle_binary" "$work/example/CMakeFiles/c-host.dir/flags.make" ||
    fail "\$<TARGET_FILE:DesktopBridge::Bundle> is not the moved bundle's binary"
else
  cat "$work/example.log" >&2
  fail "the example did not configure or build against the installed package"
fi
# The README's lines that install the package and build every example, run one by one exactly as
# written, as a new user runs them: from a folder that has the sources' examples/ and the build as
# build/, with no compiler named in the environment. The process runner then runs; the AppKit hosts
# run unattended on GNUstep when there is a display (on macOS they are only built).
readme_marker='<!-- the lines below are run as written by scripts/check-install.sh -->'
readme_lines=$(awk -v marker="$readme_marker" '$0 == marker {found = 1; next}
  found && /^```sh$/ {inside = 1; next} inside && /^```$/ {exit} inside {print}' "$source_root/README.md")
[ -n "$readme_lines" ] || fail "the README has no lines that build the examples after: $readme_marker"
readme=$work/readme
mkdir "$readme"
ln -s "$build" "$readme/build"
ln -s "$source_root/examples" "$readme/examples"
while IFS= read -r line; do
  [ -n "$line" ] || continue
  echo "check-install: README: $line"
  if ! (cd "$readme" && env -u CC -u CXX -u OBJC -u OBJCXX bash -c "$line") > "$work/readme-line.log" 2>&1; then
    cat "$work/readme-line.log" >&2
    fail "the README's line failed: $line"
  fi
done <<<"$readme_lines"
built_example() { # name: the README's lines built examples/name
  [ -x "$readme/build-$1/$1-example" ] || { fail "the README's lines did not build examples/$1"; return 1; }
}
# expect NAME OUTPUT LINE...: each line is in the example's output.
expect() {
  local name=$1 output=$2 line
  shift 2
  for line in "$@"; do grep -qxF "$line" <<<"$output" || fail "examples/$name did not print: $line"; done
}
if built_example process; then
  output=$("$readme/build-process/process-example" 2> "$work/process-example.err") || fail "examples/process failed"
  echo "$output" | sed 's/^/check-install: process: /'
  expect process "$output" "waited: status 3, output:" "to stdout" "to stderr" "detached: status 0, output untouched" \
    "failed: status -1, with a description"
fi
gui_examples=(dialogs menu drops window)
run_gui=1
[ "$(uname -s)" != Darwin ] || run_gui=0
[ -n "${DISPLAY:-}" ] || run_gui=0
mkdir -p "$work/home" "$work/launch"
echo '#EXTM3U' > "$work/launch/Welcome.m3u"
for name in "${gui_examples[@]}"; do
  built_example "$name" || continue
  if [ "$run_gui" = 0 ]; then
    echo "check-install: examples/$name built, not run (needs GNUstep and a display)"
    continue
  fi
  extra=()
  [ "$name" != drops ] || extra=(-GSFilePath "$work/launch/Welcome.m3u")
  # Its own home and Trash: nothing of the user's is touched.
  output=$(HOME="$work/home" XDG_DATA_HOME="$work/home/data" timeout -s KILL 120 \
    "$readme/build-$name/$name-example" -GSX11HandlesWindowDecorations NO -ExampleUnattended YES \
    "${extra[@]}" 2> "$work/$name-example.err") || { cat "$work/$name-example.err" >&2; fail "examples/$name failed"; }
  echo "$output" | sed "s/^/check-install: $name: /"
  case $name in
    dialogs) expect dialogs "$output" "open: nothing chosen (cancelled, or failed: see the log)" \
      "open off the main thread: nothing chosen (cancelled, or failed: see the log)" \
      "save: 1 path(s)"
      grep -q '^save: chose /.*/playlist\.m3u$' <<<"$output" || fail "examples/dialogs: the save panel gave no path" ;;
    menu) expect menu "$output" "menus added: yes" 'menu: tag 41 "Shuffle"' 'menu: tag 42 "Repeat"' "Repeat is on" ;;
    drops) expect drops "$output" "handlers attached: yes" "open file: $work/launch/Welcome.m3u" \
      "the view takes file drags: yes" ;;
    window) expect window "$output" "title: Services example" "trashFile: moved to the Trash" \
      "trashFile again: not moved (gone)" "frame saved as: the represented file name" ;;
  esac
done

# ---- The loader and the plain-C GUI host ------------------------------------------------------
# The loader compiles alone as C and C++ without a warning; examples/c-gui-host builds with clang
# through the package's DesktopBridge::AppKit and with the default C compiler through
# desktopbridge-appkit.pc, and on GNUstep with a display each build runs unattended.
for file in include/DesktopBridgeLoader.h lib/pkgconfig/desktopbridge-appkit.pc \
    lib/cmake/DesktopBridge/DesktopBridgeAppKit.cmake; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
printf '#include "DesktopBridgeLoader.h"\nint main(void) { DBExports e; return DBLoadExports("", &e, 0, 0); }\n' \
  > "$work/loader.c"
for language in c c++; do
  compiler=${CC:-cc}
  [ "$language" = c ] || compiler=${CXX:-c++}
  $compiler -x "$language" -Wall -Wextra -Wpedantic -Werror -I"$prefix/include" "$work/loader.c" \
    -o "$work/loader-$language" -ldl || fail "DesktopBridgeLoader.h does not compile alone as $language"
done
c_gui_builds=()
if cmake -S "$source_root/examples/c-gui-host" -B "$work/c-gui-host" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER=clang > "$work/c-gui-host.log" 2>&1 && cmake --build "$work/c-gui-host" >> "$work/c-gui-host.log" 2>&1; then
  c_gui_builds+=("$work/c-gui-host/c-gui-host")
else
  cat "$work/c-gui-host.log" >&2
  fail "examples/c-gui-host did not build with clang against DesktopBridge::AppKit"
fi
if PKG_CONFIG_PATH=$prefix/lib/pkgconfig ${CC:-cc} -o "$work/c-gui-host-pc" "$source_root/examples/c-gui-host/main.c" \
    -DDESKTOPBRIDGE_BINARY="\"$prefix/lib/DesktopBridge.bundle/$bundle_binary\"" \
    $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs desktopbridge-appkit) 2> "$work/c-gui-host-pc.log"; then
  c_gui_builds+=("$work/c-gui-host-pc")
else
  cat "$work/c-gui-host-pc.log" >&2
  fail "examples/c-gui-host did not build with ${CC:-cc} and pkg-config desktopbridge-appkit"
fi
for program in "${c_gui_builds[@]}"; do
  if [ "$run_gui" = 0 ]; then
    echo "check-install: $(basename "$program") built, not run (needs GNUstep and a display)"
    continue
  fi
  output=$(HOME="$work/home" XDG_DATA_HOME="$work/home/data" TMPDIR="$work/home" timeout -s KILL 120 "$program" \
    -GSX11HandlesWindowDecorations NO -ExampleUnattended YES 2> "$work/c-gui-host.err") ||
    { cat "$work/c-gui-host.err" >&2; fail "$(basename "$program") failed"; }
  echo "$output" | sed "s/^/check-install: $(basename "$program"): /"
  expect c-gui-host "$output" "handlers: 0x3f of 0x3f" "menu added: yes" 'menu: tag 61 "Save Notes As…"' \
    "save: $work/home/notes.txt"
done
# ---- end of the plain-C GUI host ----------------------------------------------------------------

# The README shows each example it quotes as it is: a block after the line
# "<!-- the code below is examples/NAME/FILE ... -->".
for quoted in $(sed -n 's/^<!-- the code below is \(examples\/[^ ,]*\).*/\1/p' "$source_root/README.md"); do
  readme_code=$(awk -v marker="the code below is $quoted" 'index($0, marker) {found = 1; next}
    found && /^```[a-z-]+$/ {inside = 1; next} inside && /^```$/ {exit} inside {print}' "$source_root/README.md")
  [ "$readme_code" = "$(cat "$source_root/$quoted")" ] || fail "the README's copy of $quoted differs from the file"
done
grep -q '^<!-- the code below is examples/' "$source_root/README.md" || fail "the README quotes no example"

# A version the package does not satisfy is refused.
mkdir -p "$work/too-new"
cat > "$work/too-new/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(TooNew NONE)
find_package(DesktopBridge 2.0 REQUIRED)
EOF
if cmake -S "$work/too-new" -B "$work/too-new/build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null 2>&1; then
  fail "find_package(DesktopBridge 2.0) accepted version $version"
fi

# pkg-config, for hosts built without CMake.
if command -v pkg-config > /dev/null; then
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  [ "$(pkg-config --modversion desktopbridge)" = "$version" ] || fail "pkg-config gives another version"
  read -r cflags < <(pkg-config --cflags desktopbridge)
  [ -f "${cflags#-I}/DesktopBridge.h" ] || fail "pkg-config's Cflags ($cflags) do not lead to the header"
  [ -f "$(pkg-config --variable=bundlebinary desktopbridge)" ] || fail "pkg-config's bundlebinary is no file"
  [ -d "$(pkg-config --variable=bundledir desktopbridge)" ] || fail "pkg-config's bundledir is no folder"
  [ -f "$(pkg-config --variable=testingdir desktopbridge)/DesktopBridgeAnswerPanels.m" ] ||
    fail "pkg-config's testingdir does not hold the panel answerer"
else
  fail "pkg-config is not installed"
fi

# The archive.
(cd "$build" && cpack -B "$work/packages" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
system=$(sed -n 's/^set(CPACK_SYSTEM_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
archive=$work/packages/DesktopBridge-$version-$system.tar.gz
if [ -f "$archive" ]; then
  listing=$(tar tzf "$archive")
  top=DesktopBridge-$version-$system
  for file in "lib/DesktopBridge.bundle/$bundle_binary" include/DesktopBridge.h include/DesktopBridgeVersion.h \
      share/doc/DesktopBridge/host-guide.md share/doc/DesktopBridge/LICENSE lib/cmake/DesktopBridge/DesktopBridgeConfig.cmake \
      share/DesktopBridge/bindings/python/desktopbridge.py share/DesktopBridge/bindings/dotnet/DesktopBridge.cs \
      share/DesktopBridge/testing/DesktopBridgeAnswerPanels.m; do
    grep -qx "$top/$file" <<<"$listing" || fail "$(basename "$archive") lacks $file"
  done
  echo "check-install: $(basename "$archive"): $(wc -l <<<"$listing") entries"
else
  fail "cpack made no $(basename "$archive") (made: $(ls "$work/packages" 2>/dev/null | tr '\n' ' '))"
fi

if [ "$failures" -gt 0 ]; then
  echo "check-install: $failures check(s) failed" >&2
  exit 1
fi
echo "check-install: install, find_package from a moved prefix, the plain-C host, pkg-config and cpack all work"
