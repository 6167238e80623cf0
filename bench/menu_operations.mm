// Cost of the menu manager's add, lookup and remove in menus of 10, 1,000 and 10,000 items, with
// growth against the 10-item menu and the manager's overhead against the same NSMenu calls made
// directly. Prints figures only.
#import "MenuHelper.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <functional>

namespace {

const NSInteger kTopTag = 40;
const NSInteger kBatch = 200;  // items added and removed per timed round

double nowMicros() {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Average microseconds per call of body, over rounds of `calls` calls, for at least 30 ms.
double perCall(int calls, const std::function<void()> &setUp, const std::function<void()> &body,
               const std::function<void()> &tearDown) {
  double spent = 0;
  long done = 0;
  while (spent < 30000 || done < calls) {
    @autoreleasepool {
      setUp();
      double start = nowMicros();
      for (int i = 0; i < calls; i++) body();
      spent += nowMicros() - start;
      done += calls;
      tearDown();
    }
  }
  return spent / done;
}

struct Figures {
  double add, addAtTop, lookupFirst, lookupLast, lookupMissing, removeLast, removeAllPerItem;
  double rawLookupLast, rawAdd, rawRemoveLast;
  double exportAdd, exportLookupFirst;
};

Figures measure(NSInteger count) {
  MenuHelper *helper = [MenuHelper sharedInstance];
  [helper removeAllMenuItems:0 subMenuTag:kTopTag];
  for (NSInteger tag = 0; tag < count; tag++) {
    [helper addMenuItem:0 subMenuTag:kTopTag title:@"Item" tag:tag keyEquivalent:@"" atIndex:-1 isSubMenu:NO];
  }
  NSMenu *menu = [helper getMenuByTag:0 subMenuTag:kTopTag];
  NSInteger next = 0;
  auto nothing = [] {};
  auto removeBatch = [&] {
    for (NSInteger tag = count; tag < count + kBatch; tag++) [helper removeMenuItem:0 subMenuTag:kTopTag itemTag:tag];
  };
  auto addBatch = [&] {
    for (NSInteger tag = count; tag < count + kBatch; tag++) {
      [helper addMenuItem:0 subMenuTag:kTopTag title:@"Extra" tag:tag keyEquivalent:@"" atIndex:-1 isSubMenu:NO];
    }
  };
  Figures f;
  f.add = perCall(kBatch, [&] { next = count; }, [&] {
    [helper addMenuItem:0 subMenuTag:kTopTag title:@"Extra" tag:next++ keyEquivalent:@"" atIndex:-1 isSubMenu:NO];
  }, removeBatch);
  f.addAtTop = perCall(kBatch, [&] { next = count; }, [&] {
    [helper addMenuItem:0 subMenuTag:kTopTag title:@"Extra" tag:next++ keyEquivalent:@"" atIndex:0 isSubMenu:NO];
  }, removeBatch);
  f.removeLast = perCall(kBatch, addBatch, [&] {
    [helper removeMenuItem:0 subMenuTag:kTopTag itemTag:[[menu itemAtIndex:[menu numberOfItems] - 1] tag]];
  }, nothing);
  f.lookupFirst = perCall(1000, nothing, [&] { [helper isMenuItemChecked:0 subMenuTag:kTopTag itemTag:0]; }, nothing);
  f.lookupLast = perCall(100, nothing, [&] { [helper isMenuItemChecked:0 subMenuTag:kTopTag itemTag:count - 1]; }, nothing);
  f.lookupMissing = perCall(100, nothing, [&] { [helper isMenuItemChecked:0 subMenuTag:kTopTag itemTag:-1]; }, nothing);

  // The same through the C exports (shared-instance lock, autorelease pool, string conversion).
  f.exportAdd = perCall(kBatch, [&] { next = count; }, [&] {
    addMenuItem(0, (int)kTopTag, "Extra", (int)next++, "", -1, false);
  }, removeBatch);
  f.exportLookupFirst = perCall(1000, nothing, [&] { isMenuItemChecked(0, (int)kTopTag, 0); }, nothing);

  // The same work on the NSMenu directly.
  f.rawLookupLast = perCall(100, nothing, [&] { [(NSMenuItem *)[menu itemWithTag:count - 1] state]; }, nothing);
  f.rawAdd = perCall(kBatch, [&] { next = count; }, [&] {
    NSMenuItem *item = [[NSMenuItem alloc] initWithTitle:@"Extra" action:NULL keyEquivalent:@""];
    [item setTag:next++];
    [menu addItem:item];
    [item release];
  }, removeBatch);
  f.rawRemoveLast = perCall(kBatch, addBatch, [&] { [menu removeItemAtIndex:[menu numberOfItems] - 1]; }, nothing);

  double start = nowMicros();
  [helper removeAllMenuItems:0 subMenuTag:kTopTag];
  f.removeAllPerItem = (nowMicros() - start) / count;
  return f;
}

}  // namespace

int main(int argc, char **argv) {
  @autoreleasepool {
    [NSApplication sharedApplication];
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Bench"] autorelease]];
    MenuHelper *helper = [MenuHelper sharedInstance];
    [helper addMenuItem:0 subMenuTag:0 title:@"Items" tag:kTopTag keyEquivalent:@"" atIndex:-1 isSubMenu:YES];

    const NSInteger sizes[] = {10, 1000, 10000};
    Figures figures[3];
    for (int i = 0; i < 3; i++) figures[i] = measure(sizes[i]);

    printf("menu manager, microseconds per call (growth against 10 items in brackets)\n");
    printf("%-34s %14s %22s %22s\n", "operation", "10 items", "1,000 items", "10,000 items");
    auto row = [&](const char *name, double Figures::*field) {
      double base = figures[0].*field;
      printf("%-34s %14.3f %13.3f (%5.1fx) %13.3f (%6.1fx)\n", name, base, figures[1].*field,
             figures[1].*field / base, figures[2].*field, figures[2].*field / base);
    };
    row("add, appended", &Figures::add);
    row("add, at index 0", &Figures::addAtTop);
    row("lookup, first item", &Figures::lookupFirst);
    row("lookup, last item", &Figures::lookupLast);
    row("lookup, missing tag", &Figures::lookupMissing);
    row("remove, last item", &Figures::removeLast);
    row("remove all, per item", &Figures::removeAllPerItem);
    row("export addMenuItem, appended", &Figures::exportAdd);
    row("export isMenuItemChecked, first", &Figures::exportLookupFirst);
    row("NSMenu itemWithTag:, last item", &Figures::rawLookupLast);
    row("NSMenu addItem:", &Figures::rawAdd);
    row("NSMenu removeItemAtIndex:, last", &Figures::rawRemoveLast);
    printf("manager overhead against NSMenu directly:\n");
    for (int i = 0; i < 3; i++) {
      printf("  %5ld items: lookup last %.2fx, add %.2fx, remove last %.2fx\n", (long)sizes[i],
             figures[i].lookupLast / figures[i].rawLookupLast, figures[i].add / figures[i].rawAdd,
             figures[i].removeLast / figures[i].rawRemoveLast);
    }
  }
  return 0;
}
