// Pasteboard items and file URLs from file-name lists.
#import "DBPasteboardCompat.h"
#import "DBRuntimeCompat.h"

#include <objc/runtime.h>

static NSArray *FilenamesOn(NSPasteboard *pasteboard) {
  if (![[pasteboard types] containsObject:NSFilenamesPboardType]) return nil;
  id list = [pasteboard propertyListForType:NSFilenamesPboardType];
  return [list isKindOfClass:[NSArray class]] ? list : nil;
}

@implementation NSPasteboard (DBPasteboardItems)

- (NSArray *)pasteboardItems {
  NSMutableArray *items = [NSMutableArray array];
  NSArray *filenames = FilenamesOn(self);
  if ([filenames count] > 0) {
    for (id path in filenames) {
      if (![path isKindOfClass:[NSString class]]) continue;
      DBPasteboardItem *item = [[DBPasteboardItem alloc] init];
      [item setString:[[NSURL fileURLWithPath:path] absoluteString] forType:NSURLPboardType];
      [items addObject:item];
      [item release];
    }
    return items;
  }
  NSArray *types = [self types];
  if ([types count] == 0) return items;
  DBPasteboardItem *item = [[DBPasteboardItem alloc] initWithTypes:types ofPasteboard:self];
  [items addObject:item];
  [item release];
  return items;
}

@end

@implementation DBPasteboardItem

- (id)init {
  if ((self = [super init]) != nil) {
    _itemTypes = [[NSMutableArray alloc] init];
    _itemData = [[NSMutableDictionary alloc] init];
  }
  return self;
}

- (id)initWithTypes:(NSArray *)types ofPasteboard:(NSPasteboard *)pasteboard {
  if ((self = [self init]) != nil) {
    [_itemTypes addObjectsFromArray:types];
    _pasteboard = [pasteboard retain];
  }
  return self;
}

- (void)dealloc {
  [_pasteboard release];
  [_itemTypes release];
  [_itemData release];
  [super dealloc];
}

- (NSArray *)types {
  return [NSArray arrayWithArray:_itemTypes];
}

- (NSString *)availableTypeFromArray:(NSArray *)types {
  for (NSString *type in types) {
    if ([_itemTypes containsObject:type]) return type;
  }
  return nil;
}

- (BOOL)setData:(NSData *)data forType:(NSString *)type {
  if (data == nil || type == nil) return NO;
  if (![_itemTypes containsObject:type]) [_itemTypes addObject:type];
  [_itemData setObject:data forKey:type];
  return YES;
}

- (BOOL)setString:(NSString *)string forType:(NSString *)type {
  return [self setData:[string dataUsingEncoding:NSUTF8StringEncoding] forType:type];
}

- (NSData *)dataForType:(NSString *)type {
  if (type == nil) return nil;
  NSData *data = [_itemData objectForKey:type];
  if (data == nil && _pasteboard != nil && [_itemTypes containsObject:type]) data = [_pasteboard dataForType:type];
  return data;
}

- (NSString *)stringForType:(NSString *)type {
  // The pasteboard keeps strings in a form of its own: it decodes them itself.
  if (type != nil && [_itemData objectForKey:type] == nil && _pasteboard != nil && [_itemTypes containsObject:type])
    return [_pasteboard stringForType:type];
  NSData *data = [self dataForType:type];
  return data != nil ? [[[NSString alloc] initWithData:data encoding:NSUTF8StringEncoding] autorelease] : nil;
}

@end

#pragma mark - File URLs from file-name lists

static IMP originalURLFromPasteboard = NULL;

static id URLFromPasteboardStandIn(id self, SEL _cmd, NSPasteboard *pasteboard) {
  NSURL *url = originalURLFromPasteboard != NULL
                   ? ((id (*)(id, SEL, NSPasteboard *))originalURLFromPasteboard)(self, _cmd, pasteboard)
                   : nil;
  if (url != nil) return url;
  NSArray *filenames = FilenamesOn(pasteboard);
  if ([filenames count] == 0) return nil;
  id first = [filenames objectAtIndex:0];
  if (![first isKindOfClass:[NSString class]] || [first length] == 0) return nil;
  return [NSURL fileURLWithPath:first];
}

@interface DBPasteboardURLHook : NSObject
@end

@implementation DBPasteboardURLHook
+ (void)load {
  Class urlClass = objc_getClass("NSURL");
  if (urlClass == Nil) return;
  SEL selector = sel_registerName("URLFromPasteboard:");
  Method method = class_getClassMethod(urlClass, selector);
  if (method != NULL) {
    originalURLFromPasteboard = method_setImplementation(method, (IMP)URLFromPasteboardStandIn);
  } else {
    class_addMethod(object_getClass((id)urlClass), selector, (IMP)URLFromPasteboardStandIn, "@@:@");
  }
}
@end
