// Fuzzes the dialogs' filter parser against an independent model of the filter grammar:
// entries split at "|", name and extension list at ";", extensions at ","; every well-formed
// entry yields the title name + " (" + "*.ext" items joined by "," + ")" and its extension list;
// the first entry without ";" ends parsing with exactly one log line, keeping what came before.
#import "Dovrane.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

using Text = std::u16string;

int logLines = 0;
void CountLogLine(NSString *message) { logLines++; }

std::vector<Text> Split(const Text &text, char16_t separator) {
  std::vector<Text> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == Text::npos) break;
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

Text Characters(NSString *string) {
  Text text([string length], u'\0');
  if (!text.empty()) [string getCharacters:(unichar *)&text[0] range:NSMakeRange(0, [string length])];
  return text;
}

struct Model {
  std::vector<Text> titles;
  std::vector<std::vector<Text>> extensions;
  bool malformed = false;
};

Model Expected(const Text &filters) {
  Model model;
  if (filters.empty()) return model;
  for (const Text &entry : Split(filters, u'|')) {
    std::vector<Text> pieces = Split(entry, u';');
    if (pieces.size() < 2) {
      model.malformed = true;
      break;
    }
    std::vector<Text> list = Split(pieces[1], u',');
    Text title = pieces[0] + u" (";
    for (size_t i = 0; i < list.size(); i++) {
      if (i > 0) title += u",";
      title += u"*." + list[i];
    }
    title += u")";
    model.titles.push_back(title);
    model.extensions.push_back(list);
  }
  return model;
}

[[noreturn]] void Fail(const char *what, NSString *filters) {
  fprintf(stderr, "filter parser: %s for %s\n", what, [[filters description] UTF8String] ?: "(no UTF-8 form)");
  abort();
}

Dovrane *Parser() {
  static Dovrane *dialog = nil;
  if (dialog == nil) dialog = [[Dovrane alloc] init];
  return dialog;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  _NSLog_printf_handler = CountLogLine;
  @autoreleasepool {
    Parser();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  @autoreleasepool {
    // The exports read host text as UTF-8; other bytes still make a string here, as ISO Latin 1,
    // so that every input reaches the parser.
    NSString *filters = [[[NSString alloc] initWithBytes:data length:size encoding:NSUTF8StringEncoding] autorelease];
    if (filters == nil)
      filters = [[[NSString alloc] initWithBytes:data length:size encoding:NSISOLatin1StringEncoding] autorelease];
    if (filters == nil) return 0;

    NSMutableArray *titles = [NSMutableArray array];
    NSMutableArray *extensions = [NSMutableArray array];
    logLines = 0;
    [Parser() parseFilter:filters filters:titles extensions:extensions];

    if ([titles count] != [extensions count]) Fail("titles and extension lists differ in length", filters);
    Model model = Expected(Characters(filters));
    if ([titles count] != model.titles.size()) Fail("wrong number of entries kept", filters);
    for (NSUInteger i = 0; i < [titles count]; i++) {
      if (Characters([titles objectAtIndex:i]) != model.titles[i]) Fail("title not built from its entry", filters);
      NSArray *list = [extensions objectAtIndex:i];
      if ([list count] == 0) Fail("empty extension list", filters);
      if ([list count] != model.extensions[i].size()) Fail("wrong number of extensions", filters);
      for (NSUInteger k = 0; k < [list count]; k++)
        if (Characters([list objectAtIndex:k]) != model.extensions[i][k]) Fail("extension changed", filters);
    }
    if (logLines != (model.malformed ? 1 : 0)) Fail("wrong number of log lines", filters);
  }
  return 0;
}
