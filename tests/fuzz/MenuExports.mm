// Fuzzes the string-taking menu exports (addMenuItem, setMenuItemText) together with the other
// item operations, driven by a byte stream of operations on the dock menu and on addresses that
// lead nowhere. After every operation the dock menu must match a model kept here: the items in
// order, with their tags, kinds and titles; host text that is null or not UTF-8 counts as "".
// Choosing an item must report its tag as decimal text and its current title.
#import <AppKit/AppKit.h>
#import "MenuHelper.h"
#include "DesktopBridge.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Item {
  int tag;
  std::string title;  // "" for separators
  bool separator;
  bool submenu;
  bool checked;
};

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Mostly small values, sometimes any 32-bit value, so that extremes come up often.
  int number() {
    uint8_t kind = byte();
    if (kind < 0xE0) return (int)(kind % 16) - 4;
    uint32_t value = 0;
    for (int i = 0; i < 4; i++) value = (value << 8) | byte();
    return (int)value;
  }
  // A host string: null, or up to 255 bytes of anything (the C string ends at the first NUL).
  bool text(std::string &out) {
    uint8_t length = byte();
    if (length == 0xFF) return false;
    out.clear();
    for (uint8_t i = 0; i < length && !done(); i++) out.push_back((char)byte());
    return true;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

std::vector<std::string> reports;
void OnMenu(const char *tag, const char *title) { reports.push_back(std::string(tag) + "\n" + title); }

// What a host string becomes in a menu: its UTF-8 text, or "" for null and for bytes that are not UTF-8.
std::string AsMenuText(const char *text) {
  if (text == NULL) return "";
  NSString *string = [NSString stringWithUTF8String:text];
  return string != nil ? std::string([string UTF8String]) : std::string();
}

[[noreturn]] void Fail(const char *what, size_t index) {
  fprintf(stderr, "menu exports: %s (item %zu)\n", what, index);
  abort();
}

NSMenu *DockMenu() { return [[MenuHelper sharedInstance] dockMenu]; }

void Verify(const std::vector<Item> &model) {
  NSMenu *dock = DockMenu();
  if ((size_t)[dock numberOfItems] != model.size()) Fail("item count differs from the model", model.size());
  for (size_t i = 0; i < model.size(); i++) {
    NSMenuItem *item = (NSMenuItem *)[dock itemAtIndex:i];
    const Item &expected = model[i];
    if ([item tag] != expected.tag) Fail("tag", i);
    if ((bool)[item isSeparatorItem] != expected.separator) Fail("separator kind", i);
    if (([item submenu] != nil) != expected.submenu) Fail("submenu", i);
    if (!expected.separator && std::string([[item title] UTF8String]) != expected.title) Fail("title", i);
    if (([item state] == NSOnState) != expected.checked) Fail("check mark", i);
  }
}

int FirstWithTag(const std::vector<Item> &model, int tag) {
  for (size_t i = 0; i < model.size(); i++)
    if (model[i].tag == tag) return (int)i;
  return -1;
}

// An address that names no menu: the main menu is kept empty, so any path through it ends.
void Unreachable(Reader &in, int &menuTag, int &subMenuTag) {
  menuTag = in.number();
  subMenuTag = in.number();
  if (menuTag == 0 && (subMenuTag == 0 || subMenuTag == 1)) subMenuTag = 2;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  @autoreleasepool {
    [NSApplication sharedApplication];
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
    setMenuCallback(OnMenu);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  @autoreleasepool {
    removeAllMenuItems(0, 1);
    std::vector<Item> model;
    Reader in(data, size);
    std::string title, key;
    while (!in.done()) {
      uint8_t op = in.byte() % 8;
      if (op == 0 || op == 1) {  // add to the dock menu
        bool hasTitle = in.text(title);
        bool hasKey = in.text(key);
        int tag = in.number();
        int index = in.number();
        bool isSubMenu = op == 1;
        const char *titleArg = hasTitle ? title.c_str() : NULL;
        if (!addMenuItem(0, 1, titleArg, tag, hasKey ? key.c_str() : NULL, index, isSubMenu))
          Fail("adding to the dock menu failed", model.size());
        std::string text = AsMenuText(titleArg);
        Item item = {tag, text, text.empty(), isSubMenu, false};
        if (index < 0 || (size_t)index >= model.size())
          model.push_back(item);
        else
          model.insert(model.begin() + index, item);
      } else if (op == 2) {  // remove by tag
        int tag = in.number();
        int at = FirstWithTag(model, tag);
        if (removeMenuItem(0, 1, tag) != (at >= 0)) Fail("removal result", model.size());
        if (at >= 0) model.erase(model.begin() + at);
      } else if (op == 3) {  // retitle by tag
        int tag = in.number();
        bool hasText = in.text(title);
        const char *textArg = hasText ? title.c_str() : NULL;
        setMenuItemText(0, 1, tag, textArg);
        int at = FirstWithTag(model, tag);
        if (at >= 0) model[at].title = AsMenuText(textArg);
      } else if (op == 4) {  // check mark
        int tag = in.number();
        bool checked = in.byte() & 1;
        setMenuItemChecked(0, 1, tag, checked);
        int at = FirstWithTag(model, tag);
        if (at >= 0) model[at].checked = checked;
        if (isMenuItemChecked(0, 1, tag) != (at >= 0 && model[at].checked)) Fail("check state", model.size());
      } else if (op == 5) {  // choose an item as the user does
        if (model.empty()) continue;
        size_t at = in.byte() % model.size();
        const Item &item = model[at];
        if (item.separator || item.submenu) continue;
        reports.clear();
        NSMenu *dock = DockMenu();
        [dock performActionForItemAtIndex:at];
        std::string expected = std::to_string(item.tag) + "\n" + item.title;
        if (reports.size() != 1 || reports[0] != expected) Fail("selection report", at);
      } else if (op == 6) {  // everything at an address that names no menu
        int menuTag, subMenuTag;
        Unreachable(in, menuTag, subMenuTag);
        bool hasTitle = in.text(title);
        int tag = in.number();
        int index = in.number();
        bool isSubMenu = in.byte() & 1;
        const char *titleArg = hasTitle ? title.c_str() : NULL;
        if (addMenuItem(menuTag, subMenuTag, titleArg, tag, titleArg, index, isSubMenu))
          Fail("added without a target menu", model.size());
        if (removeMenuItem(menuTag, subMenuTag, tag)) Fail("removed without a target menu", model.size());
        setMenuItemText(menuTag, subMenuTag, tag, titleArg);
        setMenuItemEnabled(menuTag, subMenuTag, tag, false);
        setMenuItemChecked(menuTag, subMenuTag, tag, true);
        if (isMenuItemChecked(menuTag, subMenuTag, tag)) Fail("checked without a target menu", model.size());
        removeAllMenuItems(menuTag, subMenuTag);
      } else {  // empty the dock menu
        removeAllMenuItems(0, 1);
        model.clear();
      }
      if (model.size() > 64) {
        removeAllMenuItems(0, 1);
        model.clear();
      }
      Verify(model);
    }
    if ([[NSApp mainMenu] numberOfItems] != 0) Fail("the main menu changed", 0);
  }
  return 0;
}
