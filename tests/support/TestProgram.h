// What a test program tells the shared test main about itself.
#ifndef DB_TEST_PROGRAM_H
#define DB_TEST_PROGRAM_H

// Written once at file scope by a program that opens no window, panel or menu: it then runs
// without the shared application, also where no display exists.
#define DB_TEST_PROGRAM_NEEDS_NO_DISPLAY() extern "C" const bool DBTestProgramNeedsNoDisplay = true

// Written once at file scope by a program that calls the plug-in from several threads at once: the
// ThreadSanitizer build runs it (label "threads").
#define DB_TEST_PROGRAM_USES_THREADS() static_assert(true, "runs in the ThreadSanitizer build")

#endif
