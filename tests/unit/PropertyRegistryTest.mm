// The property registry: declaration, lookup through superclasses, attribute lists and values,
// adding and replacing as Apple's runtime does.
#import "DBPlatform.h"
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();

#include <stdlib.h>
#include <string.h>

#include <string>

@interface RegistryBase : NSObject
@end
@implementation RegistryBase
+ (void)load {
  DBDeclareProperty(self, "title", "T@\"NSString\",C,N,V_title");
  DBDeclareProperty(self, "frame", "T{CGRect={CGPoint=dd}{CGSize=dd}},R,V_frame");
}
@end
@interface RegistryChild : RegistryBase
@end
@implementation RegistryChild
@end
@interface RegistryOther : NSObject
@end
@implementation RegistryOther
@end
@interface RegistryReplaced : NSObject
@end
@implementation RegistryReplaced
@end
@interface RegistryReplacedChild : RegistryReplaced
@end
@implementation RegistryReplacedChild
@end

namespace {

std::string Attributes(objc_property_t property) {
  const char *attributes = property_getAttributes(property);
  return attributes ? attributes : "(null)";
}

TEST(PropertyRegistryTest, DeclaredPropertiesAreFoundOnTheClassAndItsSubclasses) {
  objc_property_t title = class_getProperty([RegistryBase class], "title");
  ASSERT_TRUE(title != NULL);
  EXPECT_STREQ("title", property_getName(title));
  EXPECT_EQ("T@\"NSString\",C,N,V_title", Attributes(title));
  EXPECT_EQ(title, class_getProperty([RegistryChild class], "title"));
  EXPECT_TRUE(class_getProperty([RegistryOther class], "title") == NULL);
  EXPECT_TRUE(class_getProperty([RegistryBase class], "missing") == NULL);
  EXPECT_TRUE(class_getProperty(Nil, "title") == NULL);
#ifdef GNUSTEP
  EXPECT_TRUE(class_getProperty([RegistryBase class], NULL) == NULL);  // Apple declares the name non-null
#endif

  unsigned int count = 99;
  objc_property_t *own = class_copyPropertyList([RegistryBase class], &count);
  ASSERT_EQ(2u, count);
  EXPECT_TRUE(own[0] == title || own[1] == title);  // in no documented order
  EXPECT_TRUE(own[2] == NULL);
  free(own);
  EXPECT_TRUE(class_copyPropertyList([RegistryChild class], &count) == NULL);  // inherited ones are not its own
  EXPECT_EQ(0u, count);
}

TEST(PropertyRegistryTest, AttributeListsAndValuesComeFromTheDeclaration) {
  objc_property_t title = class_getProperty([RegistryBase class], "title");
  unsigned int count = 0;
  objc_property_attribute_t *list = property_copyAttributeList(title, &count);
  ASSERT_EQ(4u, count);
  const char *expected[4][2] = {{"T", "@\"NSString\""}, {"C", ""}, {"N", ""}, {"V", "_title"}};
  for (unsigned int index = 0; index < count; index++) {
    EXPECT_STREQ(expected[index][0], list[index].name);
    EXPECT_STREQ(expected[index][1], list[index].value);
  }
  free(list);

  char *type = property_copyAttributeValue(class_getProperty([RegistryChild class], "frame"), "T");
  EXPECT_STREQ("{CGRect={CGPoint=dd}{CGSize=dd}}", type);
  free(type);
  EXPECT_TRUE(property_copyAttributeValue(title, "R") == NULL);
}

#ifdef GNUSTEP
// What the stand-in promises beyond Apple's documentation of property_copyAttributeList: the list
// ends with an empty entry, and a null property gives none.
TEST(PropertyRegistryTest, TheStandInsAttributeListsEndWithAnEmptyEntryAndANullPropertyHasNone) {
  unsigned int count = 0;
  objc_property_attribute_t *list = property_copyAttributeList(class_getProperty([RegistryBase class], "title"), &count);
  ASSERT_EQ(4u, count);
  EXPECT_TRUE(list[4].name == NULL);
  free(list);
  EXPECT_TRUE(property_copyAttributeList(NULL, &count) == NULL);
  EXPECT_EQ(0u, count);
}
#endif

TEST(PropertyRegistryTest, AddingRefusesANameTheClassHasOrInherits) {
  objc_property_attribute_t attributes[] = {{"T", "@"}, {"&", ""}, {"V", "_value"}};
  EXPECT_TRUE(class_addProperty([RegistryOther class], "value", attributes, 3));
  EXPECT_EQ("T@,&,V_value", Attributes(class_getProperty([RegistryOther class], "value")));
  EXPECT_FALSE(class_addProperty([RegistryOther class], "value", attributes, 1));
  EXPECT_FALSE(class_addProperty([RegistryChild class], "title", attributes, 3));
  EXPECT_FALSE(class_addProperty(Nil, "value", attributes, 3));
  EXPECT_TRUE(class_addProperty([RegistryOther class], "bare", NULL, 0));
  EXPECT_EQ("", Attributes(class_getProperty([RegistryOther class], "bare")));
}

TEST(PropertyRegistryTest, ReplacingChangesTheFoundPropertyInPlaceOrAddsOne) {
  objc_property_attribute_t first[] = {{"T", "i"}, {"V", "_level"}};
  objc_property_attribute_t second[] = {{"T", "q"}, {"R", ""}};
  class_replaceProperty([RegistryReplaced class], "level", first, 2);  // none yet: added
  objc_property_t level = class_getProperty([RegistryReplaced class], "level");
  ASSERT_TRUE(level != NULL);
  const char *earlierAttributes = property_getAttributes(level);
  EXPECT_STREQ("Ti,V_level", earlierAttributes);

  class_replaceProperty([RegistryReplacedChild class], "level", second, 2);  // the inherited record changes
  EXPECT_EQ(level, class_getProperty([RegistryReplacedChild class], "level"));
  EXPECT_EQ("Tq,R", Attributes(level));
#ifdef GNUSTEP
  // The stand-in keeps the strings it handed out; Apple's runtime frees the replaced ones.
  EXPECT_STREQ("Ti,V_level", earlierAttributes);
#endif
  unsigned int count = 0;
  free(class_copyPropertyList([RegistryReplacedChild class], &count));
  EXPECT_EQ(0u, count);
}

}  // namespace
