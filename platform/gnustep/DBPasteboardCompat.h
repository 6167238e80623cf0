// Pasteboard and URL interfaces that Apple's AppKit has and this GNUstep lacks or answers
// differently.
//
// -[NSPasteboard pasteboardItems]: this pasteboard holds one value per type, so its contents are
//   taken as a file drag presents them on macOS: one item per entry of the file-names list, each
//   carrying its file URL (NSURLPboardType); without such a list, one item with the types on the
//   pasteboard, whose data it reads from the pasteboard when asked; no item when it holds none.
//   Data set on an item stays with the item and does not change the pasteboard. (This platform's own NSPasteboardItem loses the types set on
//   it, so the items are of a subclass that keeps them.)
// +[NSURL URLFromPasteboard:]: the platform's answer when it has one (a URL written with
//   -writeToPasteboard:); otherwise the file URL of the first entry of the file-names list, as
//   macOS gives for a file drag; nil when there is neither. Its path is the name as the list
//   gives it, byte for byte, as macOS's -[NSURL path] is. (-[NSURL fileSystemRepresentation] has
//   no stand-in: macOS decomposes non-ASCII names there, which this platform would not.)
#ifndef DB_GS_PASTEBOARD_COMPAT_H
#define DB_GS_PASTEBOARD_COMPAT_H

#import <AppKit/AppKit.h>

@interface NSPasteboard (DBPasteboardItems)
- (NSArray *)pasteboardItems;
@end

@interface DBPasteboardItem : NSPasteboardItem {
  NSMutableArray *_itemTypes;
  NSMutableDictionary *_itemData;
  NSPasteboard *_pasteboard;
}
// An item with types whose data pasteboard gives.
- (id)initWithTypes:(NSArray *)types ofPasteboard:(NSPasteboard *)pasteboard;
@end

#endif
