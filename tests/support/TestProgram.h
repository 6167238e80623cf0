// What a test program tells the shared test main about itself.
#ifndef DB_TEST_PROGRAM_H
#define DB_TEST_PROGRAM_H

// Written once at file scope by a program that opens no window, panel or menu: it then runs
// without the shared application, also where no display exists. The mark is set by a static
// initializer, before main, in the shared test main's flag (which defaults to "needs a display").
#define DB_TEST_PROGRAM_NEEDS_NO_DISPLAY() \
  [[maybe_unused]] static const bool dbTestProgramNeedsNoDisplayMarked = (DBMarkTestProgramNeedsNoDisplay(), true)

void DBMarkTestProgramNeedsNoDisplay(void);

// Written once at file scope by a program that calls the plug-in from several threads at once: the
// ThreadSanitizer build runs it (label "threads").
#define DB_TEST_PROGRAM_USES_THREADS() static_assert(true, "runs in the ThreadSanitizer build")

#endif
