// DBDeclareProperty: declares a property of a class to the object runtime from its attribute string,
// the form property_getAttributes returns ("T@\"NSString\",&,N,V_name": comma-separated attributes,
// each a one-letter name followed by its value; a quoted class name may contain no comma).
//
// GCC's runtime records no property metadata from the compiler, so there a class whose properties
// must be found by class_getProperty declares them this way, normally from its +load. On macOS the
// compiler has already recorded the property and the call changes nothing (it returns NO); for a
// property the class has no @property declaration of, it adds one on both platforms.
// Returns class_addProperty's result.
#ifndef DB_PROPERTY_DECLARATION_H
#define DB_PROPERTY_DECLARATION_H

#include <objc/runtime.h>
#ifdef GNUSTEP
#include "gnustep/DBRuntimeCompat.h"
#endif

#include <string>
#include <utility>
#include <vector>

inline BOOL DBDeclareProperty(Class cls, const char *name, const char *attributeString) {
  std::vector<std::pair<std::string, std::string>> split;
  std::string piece;
  bool quoted = false;
  for (const char *cursor = attributeString ? attributeString : ""; ; cursor++) {
    if (*cursor == '"') quoted = !quoted;
    if ((*cursor == ',' && !quoted) || !*cursor) {
      if (!piece.empty()) split.emplace_back(piece.substr(0, 1), piece.substr(1));
      piece.clear();
      if (!*cursor) break;
    } else {
      piece += *cursor;
    }
  }
  std::vector<objc_property_attribute_t> attributes;
  for (const auto &attribute : split) attributes.push_back({attribute.first.c_str(), attribute.second.c_str()});
  return class_addProperty(cls, name, attributes.empty() ? NULL : attributes.data(), (unsigned int)attributes.size());
}

#endif
