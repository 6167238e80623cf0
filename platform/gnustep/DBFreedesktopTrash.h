// Moving files to the Trash as freedesktop.org desktops keep it: a trash directory with files/ and
// info/NAME.trashinfo, in the user's data directory for items on the same device, else in the
// item's volume ($topdir/.Trash/$uid when the administrator provides $topdir/.Trash, otherwise
// $topdir/.Trash-$uid). Items are always renamed, never copied across devices.
#ifndef DB_GS_FREEDESKTOP_TRASH_H
#define DB_GS_FREEDESKTOP_TRASH_H

#include <string>

// Moves the item at path (absolute, or relative to the working directory) to the Trash. A symbolic
// link is moved itself, never its target. Returns 0 and sets *trashedPath to the item's new path;
// on failure returns an errno value and leaves the item where it was, with no .trashinfo of its
// own left behind. ENOENT for a missing item changes nothing at all.
// The home trash is $XDG_DATA_HOME/Trash ($XDG_DATA_HOME when absolute, else $HOME/.local/share).
int DBTrashItem(const char *path, std::string *trashedPath);

// Path= value of a .trashinfo: every byte outside [A-Za-z0-9/._~-] as %XX (upper case).
std::string DBTrashEncodePath(const std::string &path);

#endif
