# Which compiler builds the bundle. On Apple platforms it is the platform's own (Apple clang). On
# GNUstep it must be clang: GNU c++ rejects -fobjc-runtime=gcc and -fblocks, and its Objective-C++
# crashes on @try.

# Before project(): chooses clang when the user named no compiler and the default is another one.
macro(db_choose_compiler)
  if(NOT CMAKE_HOST_APPLE AND NOT CMAKE_TOOLCHAIN_FILE AND NOT CMAKE_CROSSCOMPILING
     AND NOT DEFINED CMAKE_CXX_COMPILER AND NOT DEFINED ENV{CXX})
    set(db_default_is_clang FALSE)
    find_program(db_default_cxx NAMES c++ g++)
    if(db_default_cxx)
      execute_process(COMMAND ${db_default_cxx} --version OUTPUT_VARIABLE db_default_version ERROR_QUIET)
      if(db_default_version MATCHES "clang")
        set(db_default_is_clang TRUE)
      endif()
    endif()
    if(NOT db_default_is_clang)
      find_program(db_clangxx NAMES clang++ clang++-16 clang++-15 clang++-14)
      find_program(db_clang NAMES clang clang-16 clang-15 clang-14)
      mark_as_advanced(db_default_cxx db_clangxx db_clang)
      if(db_clangxx AND db_clang)
        message(STATUS "DesktopBridge: building with ${db_clangxx} (the default C++ compiler cannot build Objective-C++ for GNUstep)")
        set(CMAKE_CXX_COMPILER ${db_clangxx} CACHE FILEPATH "C++ compiler")
        if(NOT DEFINED CMAKE_C_COMPILER AND NOT DEFINED ENV{CC})
          set(CMAKE_C_COMPILER ${db_clang} CACHE FILEPATH "C compiler")
        endif()
      else()
        message(FATAL_ERROR "DesktopBridge needs clang here: install it (apt-get install clang) or pass -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
      endif()
    endif()
  endif()
endmacro()

# After project(): a compiler that cannot build the sources stops the configure with what to pass.
macro(db_check_compiler)
  if(NOT APPLE AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "DesktopBridge builds its Objective-C++ with clang, not ${CMAKE_CXX_COMPILER_ID}: configure a new build directory with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
endmacro()
