// Retain, release and friends for the stand-ins, sent through selectors registered at call time.
//
// GCC's runtime registers a compiled file's selector references only when it loads that file's
// module; a class-load hook that runs earlier (during the loading of another file of the same binary)
// may call a stand-in whose own references are still unregistered, and a message sent with one of
// them fails. These helpers do not depend on that order. Private to platform/gnustep/.
#ifndef DB_GS_MESSAGING_H
#define DB_GS_MESSAGING_H

#include <objc/message.h>
#include <objc/runtime.h>

namespace gscompat {

inline id Send(id object, SEL selector) { return ((id(*)(id, SEL))objc_msg_lookup(object, selector))(object, selector); }

inline id Retain(id object) {
  static SEL selector = sel_registerName("retain");
  return object ? Send(object, selector) : nil;
}

inline void Release(id object) {
  static SEL selector = sel_registerName("release");
  if (object) Send(object, selector);
}

inline id Copy(id object) {
  static SEL selector = sel_registerName("copy");
  return object ? Send(object, selector) : nil;
}

inline id Autorelease(id object) {
  static SEL selector = sel_registerName("autorelease");
  return object ? Send(object, selector) : nil;
}

}  // namespace gscompat

#endif
