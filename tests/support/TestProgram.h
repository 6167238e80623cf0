// What a test program tells the shared test main about itself.
#ifndef DB_TEST_PROGRAM_H
#define DB_TEST_PROGRAM_H

// Written once at file scope by a program that opens no window, panel or menu: it then runs
// without the shared application, also where no display exists.
#define DB_TEST_PROGRAM_NEEDS_NO_DISPLAY() extern "C" const bool DBTestProgramNeedsNoDisplay = true

#endif
