# Linux: the same sources built with clang against GNUstep, as a GNUstep bundle directory
# DesktopBridge.bundle/ holding the shared object and Resources/Info-gnustep.plist.

find_program(GNUSTEP_CONFIG gnustep-config REQUIRED)
execute_process(COMMAND ${GNUSTEP_CONFIG} --objc-flags OUTPUT_VARIABLE gs_objc_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${GNUSTEP_CONFIG} --gui-libs OUTPUT_VARIABLE gs_gui_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND gcc -print-file-name=include OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)

# Keep GNUstep's definitions; its include directories become system directories so that strict
# warnings apply to our own files only.
separate_arguments(gs_objc_flags UNIX_COMMAND "${gs_objc_flags}")
set(DB_GS_DEFINITIONS)
set(DB_GS_INCLUDES)
foreach(flag ${gs_objc_flags})
  if(flag MATCHES "^-D(.*)$")
    list(APPEND DB_GS_DEFINITIONS ${CMAKE_MATCH_1})
  elseif(flag MATCHES "^-I(.+)$" AND NOT flag STREQUAL "-I.")
    if(EXISTS ${CMAKE_MATCH_1})
      list(APPEND DB_GS_INCLUDES ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES DB_GS_DEFINITIONS)

separate_arguments(gs_gui_libs UNIX_COMMAND "${gs_gui_libs}")
set(DB_GS_LINK ${gs_gui_libs} -lBlocksRuntime -lffi -ldl)

set(DB_OBJC_FLAGS -fobjc-runtime=gcc -fblocks -fobjc-exceptions -fexceptions
  -fconstant-string-class=NSConstantString -fno-strict-aliasing -pthread)

set(DB_SANITIZE_FLAGS)
set(DB_SANITIZE_COMPILE_FLAGS)
if(DB_SANITIZE)
  # fuzzer-no-link adds the coverage feedback that the fuzz targets need; it costs little elsewhere.
  set(DB_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  set(DB_SANITIZE_COMPILE_FLAGS -fsanitize=fuzzer-no-link)
elseif(DB_SANITIZE_THREAD)
  set(DB_SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
# Fuzz targets (libFuzzer) and LeakSanitizer checks come with the sanitizer build.
set(DB_FUZZING ${DB_SANITIZE})
set(DB_LEAK_CHECKS ${DB_SANITIZE})

# .mm files go to the C++ compiler, clang++, which compiles them as Objective-C++ by their name.
set(DB_OBJC_LANGUAGE CXX)
# Plain C++ files go to the same compiler with the same flags, of which -fobjc-exceptions does
# nothing for them: said so, it is no warning (an error under DB_WERROR).
set(DB_PLAIN_CXX_OPTIONS -Wno-unused-command-line-argument)

# Applies the Objective-C++ toolchain of this platform to a target.
function(db_objc_target target)
  target_compile_definitions(${target} PRIVATE ${DB_GS_DEFINITIONS})
  target_include_directories(${target} SYSTEM PRIVATE ${DB_GS_INCLUDES})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${DB_OBJC_FLAGS}>" ${DB_SANITIZE_FLAGS}
    ${DB_SANITIZE_COMPILE_FLAGS} -idirafter ${gcc_include})
  target_link_options(${target} PRIVATE ${DB_SANITIZE_FLAGS} -pthread)
  target_link_libraries(${target} PRIVATE ${DB_GS_LINK})
endfunction()

# An application bundle <dir>/<target>.app holding the executable and Resources/Info-gnustep.plist.
set(DB_APP_BINARY_SUBDIR "")
function(db_platform_app_bundle target dir identifier version short_version)
  set(app_dir ${dir}/${target}.app)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${app_dir})
  set(APP_NAME ${target})
  set(APP_IDENTIFIER ${identifier})
  set(APP_VERSION ${version})
  set(APP_SHORT_VERSION ${short_version})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/Info-app-gnustep.plist.in ${app_dir}/Resources/Info-gnustep.plist @ONLY)
endfunction()

# Stand-ins for what this platform lacks.
file(GLOB DB_PLATFORM_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/gnustep/*.mm ${CMAKE_SOURCE_DIR}/platform/gnustep/*.cpp
  ${CMAKE_SOURCE_DIR}/platform/gnustep/*.c)


# Only the symbols listed in exports.txt leave the binary.
db_write_export_list(${CMAKE_BINARY_DIR}/exports.map "    @SYMBOL@;" "{\n  global:\n" "  local: *;\n};\n")

set(DB_BUNDLE_DIR ${CMAKE_BINARY_DIR}/DesktopBridge.bundle)
# Where the binary sits in the bundle, as the public header's DB_BUNDLE_BINARY_SUBPATH says.
set(DB_BUNDLE_BINARY_SUBPATH DesktopBridge)
set(DB_BUNDLE_BINARY ${DB_BUNDLE_DIR}/${DB_BUNDLE_BINARY_SUBPATH})

# The bundle, made of the plug-in's objects.
function(db_add_bundle)
  add_library(DesktopBridge MODULE $<TARGET_OBJECTS:db_objects>)
  set_target_properties(DesktopBridge PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME DesktopBridge
    LIBRARY_OUTPUT_DIRECTORY ${DB_BUNDLE_DIR}
    LINK_DEPENDS ${CMAKE_BINARY_DIR}/exports.map)
  target_link_options(DesktopBridge PRIVATE -Wl,--version-script=${CMAKE_BINARY_DIR}/exports.map)
  if(NOT DB_SANITIZE AND NOT DB_SANITIZE_THREAD)
    # A sanitized bundle takes the sanitizer runtime from its (sanitized) host instead.
    target_link_options(DesktopBridge PRIVATE -Wl,--no-undefined)
  endif()
  db_objc_target(DesktopBridge)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/Info-gnustep.plist.in ${DB_BUNDLE_DIR}/Resources/Info-gnustep.plist @ONLY)
endfunction()

# The programs that run in the build need nothing more here: one architecture, and GNUstep's
# panels need no bundle identifier.
function(db_platform_programs_run_here)
endfunction()
