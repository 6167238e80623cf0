# Defaults for Apple platforms: the architectures of the bundle and the oldest macOS it runs on.
# A value the user gives (-DCMAKE_OSX_ARCHITECTURES=..., -DCMAKE_OSX_DEPLOYMENT_TARGET=..., or the
# environment variables CMAKE_OSX_ARCHITECTURES and MACOSX_DEPLOYMENT_TARGET) wins.
#   x86_64;arm64    the default: a universal bundle; each host process loads its own slice
#   x86_64          for x86-64 hosts only (also run under Rosetta on Apple silicon)
#   arm64           for arm64 hosts only
# An arm64 host process cannot load an x86-64-only bundle, nor the reverse. The x86-64 slice is
# built for macOS 10.11; the compiler raises the arm64 slice's target to macOS 11, the first that
# runs on Apple silicon. The programs that run in the build are built for the building machine's
# architecture only (see db_platform_programs_run_here in Apple.cmake).
#
# db_apple_defaults() runs before project(), on a Mac, so that CMake's compiler checks use them
# too, and again after it, for a target that only the toolchain file names as Apple's.
macro(db_apple_defaults)
  if(CMAKE_HOST_APPLE OR APPLE)
    if(NOT CMAKE_OSX_ARCHITECTURES AND NOT DEFINED ENV{CMAKE_OSX_ARCHITECTURES})
      set(CMAKE_OSX_ARCHITECTURES "x86_64;arm64" CACHE STRING
        "Architectures of the bundle: x86_64, arm64 or x86_64;arm64" FORCE)
    endif()
    if(NOT CMAKE_OSX_DEPLOYMENT_TARGET AND NOT DEFINED ENV{MACOSX_DEPLOYMENT_TARGET})
      set(CMAKE_OSX_DEPLOYMENT_TARGET "10.11" CACHE STRING "Oldest macOS the bundle runs on" FORCE)
    endif()
  endif()
endmacro()
