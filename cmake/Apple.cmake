# macOS: a loadable MODULE bundle for x86_64, macOS 10.11 and later, with manual retain/release.
enable_language(OBJCXX)
set(CMAKE_OSX_ARCHITECTURES x86_64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.11)

set_source_files_properties(${DB_SOURCES} PROPERTIES LANGUAGE OBJCXX)

add_library(db_objects OBJECT ${DB_SOURCES})
target_include_directories(db_objects PUBLIC ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/platform
  ${CMAKE_SOURCE_DIR}/plugin ${CMAKE_SOURCE_DIR}/dialogs ${CMAKE_SOURCE_DIR}/swizzler
  ${CMAKE_SOURCE_DIR}/override ${CMAKE_SOURCE_DIR}/menu)
target_compile_options(db_objects PRIVATE -fno-objc-arc ${DB_WARNINGS})

add_library(DesktopBridge MODULE $<TARGET_OBJECTS:db_objects>)
set_target_properties(DesktopBridge PROPERTIES
  BUNDLE TRUE
  BUNDLE_EXTENSION bundle
  MACOSX_BUNDLE_BUNDLE_NAME DesktopBridge
  MACOSX_BUNDLE_GUI_IDENTIFIER org.desktopbridge.DesktopBridge)
target_link_libraries(DesktopBridge PRIVATE
  "-framework AppKit" "-framework Foundation" "-framework IOKit" "-framework CoreFoundation"
  "-Wl,-exported_symbols_list,${CMAKE_BINARY_DIR}/exports.darwin")

# The exported symbol list, from exports.txt (Mach-O names carry a leading underscore).
file(STRINGS ${CMAKE_SOURCE_DIR}/exports.txt export_lines REGEX "^[A-Za-z_]")
set(darwin_exports "")
foreach(line ${export_lines})
  string(REGEX REPLACE "[ \t].*$" "" symbol "${line}")
  string(APPEND darwin_exports "_${symbol}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/exports.darwin "${darwin_exports}")
