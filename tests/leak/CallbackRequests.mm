// Many open-file requests and C-string copies: every copy the host receives is the host's to
// free, and nothing else of ours stays allocated.
#import <Foundation/Foundation.h>
#include <gtest/gtest.h>
#include "DesktopBridge.h"

#include <stdlib.h>

TEST(CallbackLeaks, StringCopiesFreedByTheHostLeaveNothing) {
  for (int i = 0; i < 1000; i++) {
    @autoreleasepool {
      char *copy = MakeCString([NSString stringWithFormat:@"/tmp/request-%d", i]);
      ASSERT_NE(copy, nullptr);
      free(copy);
    }
  }
}
