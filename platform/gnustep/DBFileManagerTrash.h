// -[NSFileManager trashItemAtURL:resultingItemURL:error:], which this GNUstep lacks, moving items to
// the freedesktop.org Trash.
#ifndef DB_GS_FILE_MANAGER_TRASH_H
#define DB_GS_FILE_MANAGER_TRASH_H

#import <Foundation/Foundation.h>

@interface NSFileManager (DBTrash)
// Moves the item at the file URL to the Trash. On success returns YES and sets *outResultingURL
// (when given) to the item's URL in the Trash. On failure returns NO, sets *outResultingURL to nil
// and *error (when given) to an error of NSCocoaErrorDomain whose NSUnderlyingErrorKey holds the
// POSIX error; the item stays where it was.
- (BOOL)trashItemAtURL:(NSURL *)url resultingItemURL:(NSURL **)outResultingURL error:(NSError **)error;
@end

#endif
