#include "ProcessArguments.h"

NSArray *DBSplitProcessArguments(NSString *joined) {
  NSString *separator = [NSString stringWithFormat:@"%c", 28];
  return DBComponentsSeparatedByString(joined, separator);
}
