// The file manager's trash call on top of the freedesktop.org Trash.
#import "DBFileManagerTrash.h"

#include "DBFreedesktopTrash.h"

#include <errno.h>
#include <sys/stat.h>

// The Cocoa error code that describes a failed move to the Trash with POSIX error posixError.
static NSInteger cocoaCodeFor(int posixError) {
  switch (posixError) {
    case ENOENT:
    case ENOTDIR:
      return NSFileNoSuchFileError;
    case EACCES:
    case EPERM:
    case EROFS:
      return NSFileWriteNoPermissionError;
    case ENAMETOOLONG:
    case EINVAL:
      return NSFileWriteInvalidFileNameError;
    case ENOSPC:
    case EDQUOT:
      return NSFileWriteOutOfSpaceError;
    default:
      return NSFileWriteUnknownError;
  }
}

static NSError *trashError(NSInteger code, int posixError, NSURL *url) {
  NSMutableDictionary *userInfo = [NSMutableDictionary dictionary];
  if (url != nil) [userInfo setObject:url forKey:NSURLErrorKey];
  if ([url isFileURL] && [url path] != nil) [userInfo setObject:[url path] forKey:NSFilePathErrorKey];
  if (posixError != 0)
    [userInfo setObject:[NSError errorWithDomain:NSPOSIXErrorDomain code:posixError userInfo:nil]
                 forKey:NSUnderlyingErrorKey];
  return [NSError errorWithDomain:NSCocoaErrorDomain code:code userInfo:userInfo];
}

@implementation NSFileManager (DBTrash)

- (BOOL)trashItemAtURL:(NSURL *)url resultingItemURL:(NSURL **)outResultingURL error:(NSError **)error {
  if (outResultingURL != NULL) *outResultingURL = nil;
  if (url == nil || ![url isFileURL] || [[url path] length] == 0) {
    if (error != NULL) *error = trashError(url == nil || [url isFileURL] ? NSFileNoSuchFileError
                                                                        : NSFileWriteUnsupportedSchemeError,
                                           url == nil ? EINVAL : 0, url);
    return NO;
  }
  std::string trashedPath;
  int posixError = DBTrashItem([[url path] fileSystemRepresentation], &trashedPath);
  if (posixError != 0) {
    if (error != NULL) *error = trashError(cocoaCodeFor(posixError), posixError, url);
    return NO;
  }
  if (outResultingURL != NULL) {
    struct stat info;
    BOOL isDirectory = lstat(trashedPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    NSString *path = [self stringWithFileSystemRepresentation:trashedPath.c_str() length:trashedPath.size()];
    *outResultingURL = [NSURL fileURLWithPath:path isDirectory:isDirectory];
  }
  return YES;
}

@end
