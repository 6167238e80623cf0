// Filter parsing over arbitrary bytes: it never raises or crashes, both lists stay parallel, and
// every title is made from its entry's name and extension list.
#import "Dovrane.h"

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static Dovrane *SharedDialog(void) {
  static Dovrane *dialog = nil;
  if (dialog == nil) {
    int saved = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    dialog = [[Dovrane alloc] init];  // logs "init" once
    dup2(saved, 2);
    close(null);
    close(saved);
  }
  return dialog;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  @autoreleasepool {
    NSString *spec = [[[NSString alloc] initWithBytes:data length:size encoding:NSUTF8StringEncoding] autorelease];
    if (spec == nil) return 0;  // the exports turn such input into ""
    NSMutableArray *titles = [NSMutableArray array];
    NSMutableArray *lists = [NSMutableArray array];
    [SharedDialog() parseFilter:spec filters:titles extensions:lists];
    if ([titles count] != [lists count]) abort();
    NSArray *entries = [spec componentsSeparatedByString:@"|"];
    if ([titles count] > [entries count]) abort();
    for (NSUInteger i = 0; i < [titles count]; i++) {
      NSArray *list = [lists objectAtIndex:i];
      if ([list count] == 0) abort();
      NSArray *pieces = [[entries objectAtIndex:i] componentsSeparatedByString:@";"];
      if ([pieces count] < 2) abort();
      NSMutableArray *patterns = [NSMutableArray array];
      for (NSString *extension in list) [patterns addObject:[@"*." stringByAppendingString:extension]];
      NSString *expected = [NSString stringWithFormat:@"%@ (%@)", [pieces objectAtIndex:0],
                                                      [patterns componentsJoinedByString:@","]];
      if (![[titles objectAtIndex:i] isEqualToString:expected]) abort();
      if (![[list componentsJoinedByString:@","] isEqualToString:[pieces objectAtIndex:1]]) abort();
    }
    // Parsing stops at the first malformed entry only.
    if ([titles count] < [entries count] &&
        [[[entries objectAtIndex:[titles count]] componentsSeparatedByString:@";"] count] >= 2)
      abort();
  }
  return 0;
}
