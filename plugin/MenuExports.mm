// The menu exports: each converts its C arguments and forwards to the shared MenuHelper. Each runs
// in its own autorelease pool, so a host thread without one neither leaks nor logs, and at the
// export edge (ExportEdge.h): what raises (no shared application, for one) gives the failure value.
#include "DesktopBridge.h"
#include "ExportEdge.h"
#import "MenuHelper.h"

// A host string as a string object: null, or bytes that are not valid UTF-8, give "".
static NSString *StringFromHost(const char *text) {
  if (text == NULL) return @"";
  NSString *string = [NSString stringWithUTF8String:text];
  return string != nil ? string : @"";
}

bool addMenuItem(int menuTag, int subMenuTag, const char *title, int tag, const char *keyEquivalent, int index,
                 bool isSubMenu) {
  bool added = false;
  DBAtExportEdge("addMenuItem", "false", [&] {
    @autoreleasepool {
      MenuHelper *helper = [MenuHelper sharedInstance];
      NSString *titleString = StringFromHost(title);
      NSString *keyString = StringFromHost(keyEquivalent);
      added = [helper addMenuItem:menuTag
                       subMenuTag:subMenuTag
                            title:titleString
                              tag:tag
                    keyEquivalent:keyString
                          atIndex:index
                        isSubMenu:(isSubMenu ? YES : NO)];
    }
  });
  return added;
}

bool removeMenuItem(int menuTag, int subMenuTag, int itemTag) {
  bool removed = false;
  DBAtExportEdge("removeMenuItem", "false", [&] {
    @autoreleasepool {
      removed = [[MenuHelper sharedInstance] removeMenuItem:menuTag subMenuTag:subMenuTag itemTag:itemTag];
    }
  });
  return removed;
}

void removeAllMenuItems(int menuTag, int subMenuTag) {
  DBAtExportEdge("removeAllMenuItems", "nothing", [&] {
    @autoreleasepool {
      [[MenuHelper sharedInstance] removeAllMenuItems:menuTag subMenuTag:subMenuTag];
    }
  });
}

void setMenuItemEnabled(int menuTag, int subMenuTag, int itemTag, bool enabled) {
  DBAtExportEdge("setMenuItemEnabled", "nothing", [&] {
    @autoreleasepool {
      [[MenuHelper sharedInstance] setMenuItemEnabled:menuTag
                                           subMenuTag:subMenuTag
                                              itemTag:itemTag
                                              enabled:(enabled ? YES : NO)];
    }
  });
}

void setMenuItemChecked(int menuTag, int subMenuTag, int itemTag, bool checked) {
  DBAtExportEdge("setMenuItemChecked", "nothing", [&] {
    @autoreleasepool {
      [[MenuHelper sharedInstance] setMenuItemChecked:menuTag
                                           subMenuTag:subMenuTag
                                              itemTag:itemTag
                                              checked:(checked ? YES : NO)];
    }
  });
}

bool isMenuItemChecked(int menuTag, int subMenuTag, int itemTag) {
  bool checked = false;
  DBAtExportEdge("isMenuItemChecked", "false", [&] {
    @autoreleasepool {
      checked = [[MenuHelper sharedInstance] isMenuItemChecked:menuTag subMenuTag:subMenuTag itemTag:itemTag];
    }
  });
  return checked;
}

void setMenuItemText(int menuTag, int subMenuTag, int itemTag, const char *text) {
  DBAtExportEdge("setMenuItemText", "nothing", [&] {
    @autoreleasepool {
      MenuHelper *helper = [MenuHelper sharedInstance];
      [helper setMenuItemText:menuTag subMenuTag:subMenuTag itemTag:itemTag text:StringFromHost(text)];
    }
  });
}
