// Fuzzes the splitting of createProcess's argument string against a model: the arguments are the
// pieces between the separators (0x1C), split at every separator and nowhere else, so there is one
// more argument than there are separators, none holds a separator, and joining them again gives the
// string back.
#import "ProcessArguments.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

using Text = std::u16string;

Text Characters(NSString *string) {
  Text text([string length], u'\0');
  if (!text.empty()) [string getCharacters:(unichar *)&text[0] range:NSMakeRange(0, [string length])];
  return text;
}

[[noreturn]] void Fail(const char *what) {
  fprintf(stderr, "process arguments: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  @autoreleasepool {
    NSString *joined = [[[NSString alloc] initWithBytes:data length:size encoding:NSUTF8StringEncoding] autorelease];
    if (joined == nil)
      joined = [[[NSString alloc] initWithBytes:data length:size encoding:NSISOLatin1StringEncoding] autorelease];
    if (joined == nil) return 0;
    Text text = Characters(joined);

    std::vector<Text> expected(1);
    for (char16_t c : text) {
      if (c == 0x1C)
        expected.emplace_back();
      else
        expected.back().push_back(c);
    }

    NSArray *arguments = DBSplitProcessArguments(joined);
    if (arguments == nil) Fail("no argument list");
    if ([arguments count] != expected.size()) Fail("wrong number of arguments");
    Text rejoined;
    for (NSUInteger i = 0; i < [arguments count]; i++) {
      Text argument = Characters([arguments objectAtIndex:i]);
      if (argument != expected[i]) Fail("argument differs from the text between its separators");
      if (i > 0) rejoined.push_back(0x1C);
      rejoined += argument;
    }
    if (rejoined != text) Fail("the arguments do not join back into the string");
  }
  return 0;
}
