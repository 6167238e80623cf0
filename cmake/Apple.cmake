# macOS: a loadable MODULE bundle, DesktopBridge.bundle/Contents/MacOS/DesktopBridge, for the
# architectures in CMAKE_OSX_ARCHITECTURES (x86_64 unless the user chose others) and the macOS in
# CMAKE_OSX_DEPLOYMENT_TARGET (10.11 unless chosen), built with Apple clang and manual
# retain/release. The sample host and the test hosts are application bundles.
enable_language(OBJCXX)
set(CMAKE_OBJCXX_STANDARD 17)
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)

set(DB_SANITIZE_FLAGS)
if(DB_SANITIZE)
  set(DB_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(DB_SANITIZE_THREAD)
  set(DB_SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
# Apple's clang has no libFuzzer, and its AddressSanitizer no LeakSanitizer.
set(DB_FUZZING OFF)
set(DB_LEAK_CHECKS OFF)

set(DB_OBJC_LANGUAGE OBJCXX)

set(DB_APPLE_FRAMEWORKS "-framework AppKit" "-framework Foundation" "-framework IOKit" "-framework CoreFoundation")

# Applies the Objective-C++ toolchain of this platform to a target: manual retain/release,
# Objective-C exceptions, the system frameworks.
function(db_objc_target target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fno-objc-arc -fobjc-exceptions>
    ${DB_SANITIZE_FLAGS})
  target_link_options(${target} PRIVATE ${DB_SANITIZE_FLAGS})
  target_link_libraries(${target} PRIVATE ${DB_APPLE_FRAMEWORKS})
endfunction()

# An application bundle <dir>/<target>.app/Contents/{Info.plist,MacOS/<target>}.
set(DB_APP_BINARY_SUBDIR "Contents/MacOS/")
function(db_platform_app_bundle target dir identifier version short_version)
  set_target_properties(${target} PROPERTIES
    MACOSX_BUNDLE TRUE
    # $<0:> keeps multi-configuration generators from adding a folder per configuration.
    RUNTIME_OUTPUT_DIRECTORY ${dir}/$<0:>
    MACOSX_BUNDLE_INFO_PLIST ${CMAKE_SOURCE_DIR}/cmake/Info-app.plist.in
    MACOSX_BUNDLE_BUNDLE_NAME ${target}
    MACOSX_BUNDLE_EXECUTABLE_NAME ${target}
    MACOSX_BUNDLE_GUI_IDENTIFIER ${identifier}
    MACOSX_BUNDLE_BUNDLE_VERSION ${version}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${short_version})
endfunction()

# Apple's own APIs; only the stand-ins' folder for GNUstep is left out.
file(GLOB DB_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/apple/*.mm)


# Only the symbols listed in exports.txt leave the binary (Mach-O names carry a leading underscore).
db_write_export_list(${CMAKE_BINARY_DIR}/exports.darwin "_@SYMBOL@" "" "")

set(DB_BUNDLE_DIR ${CMAKE_BINARY_DIR}/DesktopBridge.bundle)
# Where the binary sits in the bundle, as the public header's DB_BUNDLE_BINARY_SUBPATH says.
set(DB_BUNDLE_BINARY_SUBPATH Contents/MacOS/DesktopBridge)
set(DB_BUNDLE_BINARY ${DB_BUNDLE_DIR}/${DB_BUNDLE_BINARY_SUBPATH})

# The bundle, made of the plug-in's objects.
function(db_add_bundle)
  add_library(DesktopBridge MODULE $<TARGET_OBJECTS:db_objects>)
  set_target_properties(DesktopBridge PROPERTIES
    BUNDLE TRUE
    BUNDLE_EXTENSION bundle
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/$<0:>
    MACOSX_BUNDLE_INFO_PLIST ${CMAKE_SOURCE_DIR}/cmake/Info-bundle.plist.in
    MACOSX_BUNDLE_BUNDLE_NAME DesktopBridge
    MACOSX_BUNDLE_EXECUTABLE_NAME DesktopBridge
    MACOSX_BUNDLE_GUI_IDENTIFIER org.desktopbridge.DesktopBridge
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    LINK_DEPENDS ${CMAKE_BINARY_DIR}/exports.darwin)
  target_link_options(DesktopBridge PRIVATE "LINKER:-exported_symbols_list,${CMAKE_BINARY_DIR}/exports.darwin")
  db_objc_target(DesktopBridge)
endfunction()

# The programs that run in the build (test programs and their helpers, the sample host, the
# benchmarks) are built for the building machine's own architecture only, and load that slice of
# the universal bundle; a single-architecture GoogleTest (Homebrew's) then serves. DB_RUN_ARCHITECTURE
# names another (for example x86_64 under Rosetta); when the bundle lacks it, the bundle's first
# architecture is taken, and the programs build but cannot run here.
set(DB_RUN_ARCHITECTURE "${CMAKE_HOST_SYSTEM_PROCESSOR}" CACHE STRING
  "Architecture of the programs that run in the build (test programs, sample host, benchmarks)")
if(NOT DB_RUN_ARCHITECTURE IN_LIST CMAKE_OSX_ARCHITECTURES)
  list(GET CMAKE_OSX_ARCHITECTURES 0 DB_RUN_ARCHITECTURE_USED)
else()
  set(DB_RUN_ARCHITECTURE_USED ${DB_RUN_ARCHITECTURE})
endif()

# Gives the programs that the build runs, defined in the given source folders, the architecture
# above, and each plain executable among them an Info.plist of its own, with the bundle identifier
# org.desktopbridge.program.<target>: since macOS 15.4 an open or save panel never appears in a
# process without one. A plain executable carries it in the section __TEXT,__info_plist.
function(db_platform_programs_run_here)
  foreach(dir ${ARGN})
    get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(NOT type STREQUAL "EXECUTABLE" AND NOT type STREQUAL "STATIC_LIBRARY")
        continue()
      endif()
      set_target_properties(${target} PROPERTIES OSX_ARCHITECTURES ${DB_RUN_ARCHITECTURE_USED})
      get_target_property(is_app ${target} MACOSX_BUNDLE)
      if(type STREQUAL "EXECUTABLE" AND NOT is_app)
        string(REPLACE "_" "-" DB_PROGRAM_IDENTIFIER "org.desktopbridge.program.${target}")
        set(DB_PROGRAM_NAME ${target})
        set(plist ${CMAKE_BINARY_DIR}/program-info/${target}.plist)
        configure_file(${CMAKE_SOURCE_DIR}/cmake/Info-program.plist.in ${plist} @ONLY)
        target_link_options(${target} PRIVATE "LINKER:-sectcreate,__TEXT,__info_plist,${plist}")
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${plist})
      endif()
    endforeach()
  endforeach()
endfunction()
