#!/usr/bin/env bash
# Makes a folder of user data for one run of the tour or the tests, so that they change nothing of
# the user's: a freedesktop Trash ($XDG_DATA_HOME/Trash) and, on GNUstep, a configuration file that
# puts the user's defaults and library folders inside the folder instead of ~/GNUstep (GNUstep
# finds them through GNUSTEP_CONFIG_FILE; it takes the home folder from the password entry, not
# from HOME). GNUstep's own configuration is copied without its user lines, so the rest stays as
# the system has it.
#   private-user-data.sh DIR   empties DIR, fills it, and prints the variables to set, NAME=value
#                              one a line (for `export`, CMake's ENVIRONMENT or env)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: private-user-data.sh DIR" >&2; exit 2; }
mkdir -p "$1"
root=$(cd "$1" && pwd)
system_config=""
if command -v gnustep-config > /dev/null; then
  system_config=${GNUSTEP_CONFIG_FILE:-$(gnustep-config --variable=GNUSTEP_CONFIG_FILE)}
  # Read before the folder is emptied: a run inside another run's data names that run's file.
  system_text=$(cat "$system_config" 2> /dev/null || true)
fi
rm -rf "${root:?}/data" "$root/GNUstep" "$root/GNUstep.conf"
mkdir -p "$root/data"
echo "XDG_DATA_HOME=$root/data"
[ -n "$system_config" ] || exit 0
# The user's folders as the system names them relative to the home folder, else GNUstep's names.
user_dir() {
  local value
  value=$(sed -n "s/^[[:space:]]*GNUSTEP_USER_$1=//p" <<< "$system_text" | tail -n 1 | tr -d "\"'")
  case $value in /*) value="" ;; esac
  echo "$root/${value:-$2}"
}
{
  grep -v '^[[:space:]]*GNUSTEP_USER_' <<< "$system_text" || true
  # No user configuration file: one in the user's home could name the user's folders again.
  echo "GNUSTEP_USER_CONFIG_FILE=$root/GNUstep/none.conf"
  echo "GNUSTEP_USER_DEFAULTS_DIR=$(user_dir DEFAULTS_DIR GNUstep/Defaults)"
  for dir in APPS:Applications ADMIN_APPS:Applications/Admin WEB_APPS:WebApplications TOOLS:Tools \
    ADMIN_TOOLS:Tools/Admin LIBRARY:Library HEADERS:Library/Headers LIBRARIES:Library/Libraries \
    DOC:Library/Documentation DOC_MAN:Library/Documentation/man DOC_INFO:Library/Documentation/info; do
    echo "GNUSTEP_USER_DIR_${dir%%:*}=$(user_dir "DIR_${dir%%:*}" "GNUstep/${dir#*:}")"
  done
} > "$root/GNUstep.conf"
echo "GNUSTEP_CONFIG_FILE=$root/GNUstep.conf"
