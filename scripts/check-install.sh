#!/usr/bin/env bash
# What a host developer gets from a build: installs it into a temporary prefix, checks the
# installed tree, moves it elsewhere (the package must not depend on where it was installed),
# builds examples/c-host against the moved tree with find_package and runs it (it loads the
# installed bundle from plain C), reads the pkg-config file, and makes the cpack archive.
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
    share/DesktopBridge/bindings/dotnet/DesktopBridge.cs share/DesktopBridge/bindings/python/desktopbridge.py; do
  [ -f "$work/installed/$file" ] || fail "not installed: $file"
done
[ "$(uname -s)" = Darwin ] || [ -f "$work/installed/lib/DesktopBridge.bundle/Resources/Info-gnustep.plist" ] ||
  fail "not installed: the bundle's Info-gnustep.plist"
grep -q "#define DB_VERSION_STRING \"$version\"" "$work/installed/include/DesktopBridgeVersion.h" ||
  fail "the installed header does not say version $version"
if [ "$(uname -s)" = Darwin ]; then
  codesign --verify "$work/installed/lib/DesktopBridge.bundle" || fail "the installed bundle is not signed"
fi

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
# The README shows the example's code as it is.
readme_code=$(awk '/the code below is examples\/c-host\/main.c/ {found = 1; next}
  found && /^```c$/ {inside = 1; next} inside && /^```$/ {exit} inside {print}' "$source_root/README.md")
[ "$readme_code" = "$(cat "$source_root/examples/c-host/main.c")" ] ||
  fail "the README's loading example differs from examples/c-host/main.c"

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
      share/DesktopBridge/bindings/python/desktopbridge.py share/DesktopBridge/bindings/dotnet/DesktopBridge.cs; do
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
