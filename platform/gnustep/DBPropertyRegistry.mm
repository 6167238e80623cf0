// Declared properties for GCC's runtime, which records none: a registry of our own, filled by
// class_addProperty and class_replaceProperty (and so DBDeclareProperty), and read by the lookups.
// Property records and the strings they hand out are never freed, so every objc_property_t and every
// name or attribute string stays valid for the life of the process (a replaced attribute string too).
#define DB_GS_RUNTIME_COMPAT_IMPLEMENTATION
#import "DBPlatform.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct objc_property {
  const char *name;
  const char *attributes;  // the property_getAttributes form: "T@\"NSString\",&,N,V_name"
  std::vector<std::pair<std::string, std::string>> list;
};

namespace {

pthread_mutex_t registryLock = PTHREAD_MUTEX_INITIALIZER;
std::unordered_map<Class, std::vector<objc_property *>> *registry = nullptr;

objc_property *OwnProperty(Class cls, const char *name) {
  if (!registry) return nullptr;
  auto found = registry->find(cls);
  if (found == registry->end()) return nullptr;
  for (objc_property *property : found->second) {
    if (strcmp(property->name, name) == 0) return property;
  }
  return nullptr;
}

objc_property *InheritedProperty(Class cls, const char *name) {
  for (; cls; cls = class_getSuperclass(cls)) {
    if (objc_property *property = OwnProperty(cls, name)) return property;
  }
  return nullptr;
}

void SetAttributes(objc_property *property, const objc_property_attribute_t *attributes, unsigned int count) {
  property->list.clear();
  std::string text;
  for (unsigned int index = 0; index < count; index++) {
    const char *name = attributes[index].name ? attributes[index].name : "";
    const char *value = attributes[index].value ? attributes[index].value : "";
    property->list.emplace_back(name, value);
    if (index) text += ',';
    text += name;
    text += value;
  }
  property->attributes = strdup(text.c_str());  // an earlier string is kept: callers may hold it
}

objc_property *AddOwnProperty(Class cls, const char *name, const objc_property_attribute_t *attributes,
                              unsigned int count) {
  if (!registry) registry = new std::unordered_map<Class, std::vector<objc_property *>>();
  objc_property *property = new objc_property();
  property->name = strdup(name);
  SetAttributes(property, attributes, count);
  (*registry)[cls].push_back(property);
  return property;
}

}  // namespace

objc_property_t DBGSClassGetProperty(Class cls, const char *name) {
  if (!cls || !name) return NULL;
  pthread_mutex_lock(&registryLock);
  objc_property *property = InheritedProperty(cls, name);
  pthread_mutex_unlock(&registryLock);
  return property;
}

objc_property_t *DBGSClassCopyPropertyList(Class cls, unsigned int *outCount) {
  if (outCount) *outCount = 0;
  if (!cls) return NULL;
  pthread_mutex_lock(&registryLock);
  std::vector<objc_property *> own;
  if (registry) {
    auto found = registry->find(cls);
    if (found != registry->end()) own = found->second;
  }
  pthread_mutex_unlock(&registryLock);
  if (own.empty()) return NULL;
  objc_property_t *list = (objc_property_t *)calloc(own.size() + 1, sizeof(objc_property_t));
  for (size_t index = 0; index < own.size(); index++) list[index] = own[index];
  if (outCount) *outCount = (unsigned int)own.size();
  return list;
}

const char *DBGSPropertyGetName(objc_property_t property) { return property ? property->name : NULL; }

const char *DBGSPropertyGetAttributes(objc_property_t property) {
  if (!property) return NULL;
  pthread_mutex_lock(&registryLock);
  const char *attributes = property->attributes;
  pthread_mutex_unlock(&registryLock);
  return attributes;
}

// One block from malloc: the array (with a zeroed entry after the last), then the strings.
objc_property_attribute_t *property_copyAttributeList(objc_property_t property, unsigned int *outCount) {
  if (outCount) *outCount = 0;
  if (!property) return NULL;
  pthread_mutex_lock(&registryLock);
  std::vector<std::pair<std::string, std::string>> list = property->list;
  pthread_mutex_unlock(&registryLock);
  if (list.empty()) return NULL;
  size_t size = (list.size() + 1) * sizeof(objc_property_attribute_t);
  for (const auto &attribute : list) size += attribute.first.size() + attribute.second.size() + 2;
  objc_property_attribute_t *copy = (objc_property_attribute_t *)calloc(1, size);
  char *strings = (char *)(copy + list.size() + 1);
  for (size_t index = 0; index < list.size(); index++) {
    copy[index].name = strings;
    memcpy(strings, list[index].first.c_str(), list[index].first.size() + 1);
    strings += list[index].first.size() + 1;
    copy[index].value = strings;
    memcpy(strings, list[index].second.c_str(), list[index].second.size() + 1);
    strings += list[index].second.size() + 1;
  }
  if (outCount) *outCount = (unsigned int)list.size();
  return copy;
}

char *property_copyAttributeValue(objc_property_t property, const char *attributeName) {
  if (!property || !attributeName) return NULL;
  char *value = NULL;
  pthread_mutex_lock(&registryLock);
  for (const auto &attribute : property->list) {
    if (attribute.first == attributeName) {
      value = strdup(attribute.second.c_str());
      break;
    }
  }
  pthread_mutex_unlock(&registryLock);
  return value;
}

BOOL class_addProperty(Class cls, const char *name, const objc_property_attribute_t *attributes,
                       unsigned int attributeCount) {
  if (!cls || !name) return NO;
  pthread_mutex_lock(&registryLock);
  BOOL added = NO;
  if (!InheritedProperty(cls, name)) {
    AddOwnProperty(cls, name, attributes, attributeCount);
    added = YES;
  }
  pthread_mutex_unlock(&registryLock);
  return added;
}

void class_replaceProperty(Class cls, const char *name, const objc_property_attribute_t *attributes,
                           unsigned int attributeCount) {
  if (!cls || !name) return;
  pthread_mutex_lock(&registryLock);
  if (objc_property *property = InheritedProperty(cls, name)) SetAttributes(property, attributes, attributeCount);
  else AddOwnProperty(cls, name, attributes, attributeCount);
  pthread_mutex_unlock(&registryLock);
}
