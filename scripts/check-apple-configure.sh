#!/usr/bin/env bash
# Configures the project for macOS on this machine, with the defaults, and checks what the Apple
# CMake path gives, so that it cannot break unseen where no Mac builds it:
#   - the configure succeeds with the tests and benchmarks on;
#   - .mm sources are compiled as Objective-C++, C sources as C;
#   - the bundle's Info.plist says BNDL, with the identifier and the project's version;
#   - CMAKE_OSX_ARCHITECTURES is x86_64;arm64 by default, and a value the user passes is used as
#     given; the programs the build runs (tests, helpers, sample host, benchmarks) are built for the
#     building machine's architecture only, and each plain executable embeds an Info.plist with a
#     bundle identifier;
#   - warnings are errors only with DB_WERROR=ON;
#   - the bundle links with the export list made from exports.txt;
#   - installing puts the whole bundle under lib/ and signs it (ad hoc, or DB_CODESIGN_IDENTITY),
#     the CMake and pkg-config packages name the binary inside it, cpack makes .tar.gz and .zip.
# The target is simulated: clang for x86_64-apple-macos10.11, static libraries for CMake's compiler
# checks and a no-op install_name_tool, since there is no macOS SDK here. Nothing is compiled.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
if [ -n "${KEEP_WORK:-}" ]; then echo "check-apple-configure: keeping $work"; else trap 'rm -rf "$work"' EXIT; fi

# clang keeps the objects of each architecture of a universal compile in TMPDIR until it joins them.
mkdir -p "$work/tmp"
export TMPDIR=$work/tmp

cat > "$work/install_name_tool" <<'EOF'
#!/bin/sh
exit 0
EOF
# clang joins the slices of a universal object with lipo; the first slice will do here.
cat > "$work/lipo" <<'EOF'
#!/bin/sh
output=""
first=""
while [ $# -gt 0 ]; do
  case "$1" in
    -output) output=$2; shift 2 ;;
    -*) shift ;;
    *) [ -n "$first" ] || first=$1; shift ;;
  esac
done
[ -z "$output" ] || cp "$first" "$output"
EOF
chmod +x "$work/install_name_tool" "$work/lipo"
export PATH="$work:$PATH"
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
set(CMAKE_INSTALL_NAME_TOOL $work/install_name_tool)
# The SDK by name, as on a Mac with Xcode; here it only keeps CMake from looking one up.
set(CMAKE_OSX_SYSROOT macosx)
# Debian's GoogleTest stands in for the one a Mac would have.
set(GTest_DIR /usr/lib/x86_64-linux-gnu/cmake/GTest)
EOF

failures=0
fail() { echo "check-apple-configure: $*" >&2; failures=$((failures + 1)); }

# configure NAME [cmake arguments]: a configure into $work/NAME; its output is shown on failure.
configure() {
  local name=$1
  shift
  if ! cmake -S "$root" -B "$work/$name" -DCMAKE_TOOLCHAIN_FILE="$work/darwin.cmake" "$@" \
      > "$work/$name.log" 2>&1; then
    cat "$work/$name.log" >&2
    fail "the $name configure failed"
    return 1
  fi
}

if configure default; then
  build=$work/default
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

  # Every .mm object is built as Objective-C++, every C helper as C, across all targets.
  compiled=$(grep -h -o -E 'Building [A-Z]+ object [^ "]+' $(find "$build" -name build.make) | sort -u)
  [ -n "$compiled" ] || fail "no compile rules were generated"
  wrong_objc=$(grep -E '\.mm\.o$' <<<"$compiled" | grep -v '^Building OBJCXX ' || true)
  [ -z "$wrong_objc" ] || fail "Objective-C++ sources not compiled as OBJCXX:"$'\n'"$wrong_objc"
  wrong_c=$(grep -E '\.c\.o$' <<<"$compiled" | grep -v '^Building C ' || true)
  [ -z "$wrong_c" ] || fail "C sources not compiled as C:"$'\n'"$wrong_c"
  for object in db_objects.dir/plugin/HostCallbacks.mm db_objects.dir/dialogs/Dovrane.mm Player.dir/PlayerHost.mm; do
    grep -q "OBJCXX object .*${object}.o" <<<"$compiled" || fail "$object is not compiled"
  done
  grep -q 'host_DialogExportsTest.dir' <<<"$compiled" || fail "the host tests are not configured"
  grep -q 'bench_DialogPreparation.dir' <<<"$compiled" || fail "the benchmarks are not configured"
  ! grep -q 'FreedesktopTrashTest' <<<"$compiled" || fail "a GNUstep-only test is configured"

  # The plug-in bundle's Info.plist.
  plist=$build/DesktopBridge.bundle/Contents/Info.plist
  if [ ! -f "$plist" ]; then
    fail "no Info.plist was generated for DesktopBridge.bundle"
  else
    value() { tr -d '\n\t' < "$plist" | grep -o "<key>$1</key><string>[^<]*</string>" | sed 's/.*<string>\(.*\)<\/string>/\1/'; }
    [ "$(value CFBundlePackageType)" = "BNDL" ] || fail "CFBundlePackageType is '$(value CFBundlePackageType)', not BNDL"
    [ "$(value CFBundleIdentifier)" = "org.desktopbridge.DesktopBridge" ] || fail "CFBundleIdentifier is '$(value CFBundleIdentifier)'"
    [ "$(value CFBundleExecutable)" = "DesktopBridge" ] || fail "CFBundleExecutable is '$(value CFBundleExecutable)'"
    [ "$(value CFBundleVersion)" = "$version" ] || fail "CFBundleVersion is '$(value CFBundleVersion)', not $version"
    [ "$(value CFBundleShortVersionString)" = "$version" ] || fail "CFBundleShortVersionString is '$(value CFBundleShortVersionString)', not $version"
    [ "$(value LSMinimumSystemVersion)" = "10.11" ] || fail "LSMinimumSystemVersion is '$(value LSMinimumSystemVersion)'"
  fi
  player_plist=$build/Player.app/Contents/Info.plist
  [ -f "$player_plist" ] && grep -q '<string>APPL</string>' "$player_plist" || fail "Player is not an application bundle"

  # Architectures and warnings, from the bundle objects' compile flags.
  flags=$build/CMakeFiles/db_objects.dir/flags.make
  grep -q -- '-arch x86_64' "$flags" && grep -q -- '-arch arm64' "$flags" ||
    fail "the default build is not universal (x86_64 and arm64)"
  # The programs that run here: this machine's architecture (x86_64) only.
  for program in tests/CMakeFiles/host_ServicesTest.dir tests/CMakeFiles/unit_MenuHelperTest.dir \
      tests/CMakeFiles/db_test_support.dir tests/CMakeFiles/menu_drag_host.dir \
      tests/CMakeFiles/ProcessChild.dir host/CMakeFiles/Player.dir bench/CMakeFiles/bench_raw_driver.dir; do
    program_flags=$build/$program/flags.make
    if [ ! -f "$program_flags" ]; then
      fail "$program is not configured"
    elif ! grep -q -- '-arch x86_64' "$program_flags" || grep -q -- '-arch arm64' "$program_flags"; then
      fail "$program is not built for this machine's architecture alone"
    fi
  done
  # Plain executables carry an Info.plist with a bundle identifier; application bundles have theirs.
  for program in host_ServicesTest unit_DialogPreparationTest menu_drag_host; do
    program_plist=$build/program-info/$program.plist
    grep -q -- "-sectcreate -Xlinker __TEXT -Xlinker __info_plist -Xlinker $program_plist" \
      "$build/tests/CMakeFiles/$program.dir/link.txt" ||
      fail "$program does not embed an Info.plist"
    grep -q "<string>org.desktopbridge.program.${program//_/-}</string>" "$program_plist" 2>/dev/null ||
      fail "$program's Info.plist has no bundle identifier"
  done
  ! grep -rq -- '-sectcreate' "$build/host/CMakeFiles/Player.dir/" || fail "Player, an application bundle, embeds an Info.plist"
  ! grep -q -- '-Werror' "$flags" || fail "warnings are errors in a default build"
  grep -q -- '-fno-objc-arc' "$flags" || fail "the bundle is not built with manual retain/release"

  # The export list, made from exports.txt, and the bundle linked with it.
  expected=$(grep -E '^[A-Za-z_]' exports.txt | awk '{print "_" $1}')
  [ "$(cat "$build/exports.darwin" 2>/dev/null)" = "$expected" ] || fail "exports.darwin does not list exports.txt"
  grep -rq -- '-exported_symbols_list' "$build/CMakeFiles/DesktopBridge.dir/" || fail "the bundle is not linked with its export list"
  grep -rq 'exports.darwin' "$build/CMakeFiles/DesktopBridge.dir/build.make" || fail "editing exports.txt would not relink the bundle"
  grep -q 'exports.txt' "$build/CMakeFiles/Makefile.cmake" || fail "editing exports.txt would not reconfigure"

  # Installing and packing: the whole bundle under lib/, signed ad hoc after it is in place; the
  # package and pkg-config name the binary inside the bundle; cpack makes a .tar.gz and a .zip.
  install_script=$build/cmake_install.cmake
  placed=$(grep -n 'TYPE DIRECTORY FILES "[^"]*/DesktopBridge.bundle"' "$install_script" | head -n 1 | cut -d: -f1)
  signed=$(grep -n 'COMMAND codesign --force --sign "-"' "$install_script" | head -n 1 | cut -d: -f1)
  [ -n "$placed" ] || fail "the bundle is not installed as a whole directory"
  [ -n "$signed" ] || fail "the installed bundle is not signed ad hoc by default"
  [ -z "$placed" ] || [ -z "$signed" ] || [ "$signed" -gt "$placed" ] || fail "the bundle is signed before it is installed"
  grep -q 'IMPORTED_LOCATION "${DesktopBridge_BUNDLE_DIR}/Contents/MacOS/DesktopBridge"' \
    "$build/package/DesktopBridgeConfig.cmake" || fail "DesktopBridge::Bundle is not the binary inside the bundle"
  grep -qx 'bundlebinary=${bundledir}/Contents/MacOS/DesktopBridge' "$build/package/desktopbridge.pc" ||
    fail "desktopbridge.pc does not name the binary inside the bundle"
  grep -q 'set(CPACK_GENERATOR "TGZ;ZIP")' "$build/CPackConfig.cmake" || fail "cpack makes no .tar.gz and .zip"
  grep -q "set(CPACK_PACKAGE_FILE_NAME \"DesktopBridge-$version-Darwin\")" "$build/CPackConfig.cmake" ||
    fail "the archive is not named DesktopBridge-$version-Darwin"
  grep -q "#define DB_VERSION_STRING \"$version\"" "$build/include/DesktopBridgeVersion.h" ||
    fail "the header's version is not $version"
fi

if configure universal '-DCMAKE_OSX_ARCHITECTURES=x86_64;arm64' -DDB_WERROR=ON \
    '-DDB_CODESIGN_IDENTITY=Developer ID Application: Example'; then
  grep -q 'COMMAND codesign --force --sign "Developer ID Application: Example" --options runtime --timestamp' \
    "$work/universal/cmake_install.cmake" || fail "DB_CODESIGN_IDENTITY is not used to sign the installed bundle"
  flags=$work/universal/CMakeFiles/db_objects.dir/flags.make
  grep -q -- '-arch x86_64' "$flags" && grep -q -- '-arch arm64' "$flags" ||
    fail "CMAKE_OSX_ARCHITECTURES=x86_64;arm64 was not used as given"
  grep -q -- '-Werror' "$flags" || fail "DB_WERROR=ON does not make warnings errors"
fi

if configure arm64 -DCMAKE_OSX_ARCHITECTURES=arm64; then
  flags=$work/arm64/CMakeFiles/db_objects.dir/flags.make
  grep -q -- '-arch arm64' "$flags" && ! grep -q -- '-arch x86_64' "$flags" ||
    fail "CMAKE_OSX_ARCHITECTURES=arm64 was not used as given"
fi

if [ "$failures" -gt 0 ]; then
  echo "check-apple-configure: $failures check(s) failed" >&2
  exit 1
fi
echo "check-apple-configure: the macOS configure (x86_64; x86_64;arm64; arm64) passed every check"
