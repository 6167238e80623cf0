# For the examples, included before project(): off Apple platforms the AppKit examples build against
# GNUstep with clang only (GNU cc rejects -fobjc-runtime=gcc, which GNUstep's headers need), and
# CMake would otherwise take the system's cc. For each of C, OBJC and CXX that nobody named (no
# -DCMAKE_<LANG>_COMPILER, no CC, OBJC or CXX in the environment, no toolchain file), take clang or
# clang++. A compiler named explicitly is kept, except a GNU one for Objective-C, which stops the
# configure with what to pass instead.
if(NOT CMAKE_HOST_APPLE AND NOT CMAKE_TOOLCHAIN_FILE AND NOT CMAKE_CROSSCOMPILING)
  foreach(language C OBJC CXX)
    set(environment_variable ${language})
    if(language STREQUAL "C")
      set(environment_variable CC)
    endif()
    if(DEFINED CMAKE_${language}_COMPILER OR DEFINED ENV{${environment_variable}})
      continue()
    endif()
    if(language STREQUAL "CXX")
      find_program(DESKTOPBRIDGE_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
      set(clang_found ${DESKTOPBRIDGE_CLANGXX})
    else()
      find_program(DESKTOPBRIDGE_CLANG NAMES clang clang-16 clang-15 clang-14)
      set(clang_found ${DESKTOPBRIDGE_CLANG})
    endif()
    if(clang_found)
      set(CMAKE_${language}_COMPILER ${clang_found} CACHE FILEPATH "${language} compiler")
    elseif(NOT language STREQUAL "CXX")
      message(FATAL_ERROR "The DesktopBridge examples build with clang here: install it (Debian: apt-get install clang)")
    endif()
  endforeach()
  mark_as_advanced(DESKTOPBRIDGE_CLANG DESKTOPBRIDGE_CLANGXX)

  # The compiler for Objective-C: the one taken above, or the one named.
  set(objc_compiler "${CMAKE_OBJC_COMPILER}")
  if(objc_compiler STREQUAL "")
    set(objc_compiler "$ENV{OBJC}")
  endif()
  if(NOT objc_compiler STREQUAL "")
    separate_arguments(objc_command UNIX_COMMAND "${objc_compiler}")
    execute_process(COMMAND ${objc_command} --version OUTPUT_VARIABLE objc_version ERROR_QUIET)
    if(objc_version MATCHES "Free Software Foundation|^gcc|GCC")
      message(FATAL_ERROR "${objc_compiler}, named for Objective-C, is GNU's compiler, which cannot build these "
        "examples against GNUstep: in a new build directory name clang (-DCMAKE_OBJC_COMPILER=clang or OBJC=clang), "
        "or name none and clang is taken")
    endif()
  endif()
endif()
