// Splitting a string at every occurrence of a separator, as macOS's componentsSeparatedByString:
// does: character by character. GNUstep's componentsSeparatedByString: matches composed character
// sequences instead, so a separator followed by a combining mark (";" + U+0301) is not found there
// and two pieces stay one. Callers that split host text use this function.
#ifndef DB_STRING_SPLITTING_H
#define DB_STRING_SPLITTING_H

#import <Foundation/Foundation.h>

// The pieces of string between the occurrences of separator (at least one, "" for an empty
// string); nil for a nil string.
static inline NSArray *DBComponentsSeparatedByString(NSString *string, NSString *separator) {
#if defined(GNUSTEP)
  if (string == nil) return nil;
  NSMutableArray *pieces = [NSMutableArray array];
  NSUInteger length = [string length];
  NSUInteger start = 0;
  while ([separator length] > 0) {
    NSRange found = [string rangeOfString:separator options:NSLiteralSearch range:NSMakeRange(start, length - start)];
    if (found.location == NSNotFound) break;
    [pieces addObject:[string substringWithRange:NSMakeRange(start, found.location - start)]];
    start = NSMaxRange(found);
  }
  [pieces addObject:[string substringFromIndex:start]];
  return pieces;
#else
  return [string componentsSeparatedByString:separator];
#endif
}

#endif
