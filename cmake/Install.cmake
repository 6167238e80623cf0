# What `cmake --install` puts under the prefix, and the archives cpack makes of it:
#   include/DesktopBridge.h, include/DesktopBridgeVersion.h    the public header
#   include/DesktopBridgeLoader.h                             binds every export (dlopen, dlsym)
#   lib/DesktopBridge.bundle/                                  the bundle, whole
#   lib/cmake/DesktopBridge/                                   the CMake package (find_package)
#   lib/pkgconfig/desktopbridge.pc                             for builds without CMake
#   lib/pkgconfig/desktopbridge-appkit.pc                      and what a C host adds to reach AppKit
#   share/doc/DesktopBridge/                                   the host guide, the bad-input table, the licence
#   share/DesktopBridge/bindings/{dotnet,python}/              the C# and Python bindings
#   share/DesktopBridge/testing/                               the panel answerer for hosts' tests
# Nothing installed holds a path of the build: the package and the .pc file find the prefix from
# where they lie, so an installed tree can be moved or unpacked anywhere.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(DB_INSTALL_BUNDLE_DIR ${CMAKE_INSTALL_LIBDIR}/DesktopBridge.bundle)
set(DB_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/DesktopBridge)
set(DB_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/DesktopBridge)
set(DB_INSTALL_BINDINGS_DIR ${CMAKE_INSTALL_DATADIR}/DesktopBridge/bindings)
set(DB_INSTALL_TESTING_DIR ${CMAKE_INSTALL_DATADIR}/DesktopBridge/testing)

install(FILES ${CMAKE_SOURCE_DIR}/include/DesktopBridge.h ${CMAKE_SOURCE_DIR}/include/DesktopBridgeLoader.h
  ${CMAKE_BINARY_DIR}/include/DesktopBridgeVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(APPLE)
  # A CFBundle target installs as the whole DesktopBridge.bundle directory.
  install(TARGETS DesktopBridge LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  install(TARGETS DesktopBridge LIBRARY DESTINATION ${DB_INSTALL_BUNDLE_DIR})
  install(FILES ${DB_BUNDLE_DIR}/Resources/Info-gnustep.plist DESTINATION ${DB_INSTALL_BUNDLE_DIR}/Resources
   )
endif()
install(FILES ${CMAKE_SOURCE_DIR}/docs/host-guide.md ${CMAKE_SOURCE_DIR}/docs/bad-input.md
  ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${DB_INSTALL_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/bindings/dotnet/DesktopBridge.cs DESTINATION ${DB_INSTALL_BINDINGS_DIR}/dotnet)
install(FILES ${CMAKE_SOURCE_DIR}/bindings/python/desktopbridge.py DESTINATION ${DB_INSTALL_BINDINGS_DIR}/python)
install(FILES ${CMAKE_SOURCE_DIR}/testing/DesktopBridgeAnswerPanels.h ${CMAKE_SOURCE_DIR}/testing/DesktopBridgeAnswerPanels.m
  DESTINATION ${DB_INSTALL_TESTING_DIR})

# The CMake package: DesktopBridge::Headers, DesktopBridge::Bundle, DesktopBridge::AnswerPanels,
# DesktopBridge::AppKit, DesktopBridge_BUNDLE_DIR, DesktopBridge_BINDINGS_DIR and
# DesktopBridge_TESTING_DIR.
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/DesktopBridgeConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/DesktopBridgeConfig.cmake
  INSTALL_DESTINATION ${DB_INSTALL_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR DB_INSTALL_BUNDLE_DIR DB_INSTALL_BINDINGS_DIR DB_INSTALL_TESTING_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/DesktopBridgeConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/DesktopBridgeConfig.cmake
  ${CMAKE_BINARY_DIR}/package/DesktopBridgeConfigVersion.cmake ${CMAKE_SOURCE_DIR}/cmake/DesktopBridgeAppKit.cmake
  DESTINATION ${DB_INSTALL_CMAKE_DIR})

# pkg-config, relative to the .pc file's own folder (variables includedir, bundledir, bundlebinary,
# bindingsdir).
file(RELATIVE_PATH DB_PC_PREFIX_FROM_PC_DIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" DB_PC_PREFIX_FROM_PC_DIR "${DB_PC_PREFIX_FROM_PC_DIR}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/desktopbridge.pc.in ${CMAKE_BINARY_DIR}/package/desktopbridge.pc @ONLY)
# The AppKit side for a C host: flags of this platform, as DesktopBridge::AppKit finds them.
include(${CMAKE_SOURCE_DIR}/cmake/DesktopBridgeAppKit.cmake)
desktopbridge_appkit_flags(db_appkit_compile db_appkit_link)
if(CMAKE_DL_LIBS)
  list(PREPEND db_appkit_link -l${CMAKE_DL_LIBS})
endif()
string(JOIN " " DB_APPKIT_PC_CFLAGS ${db_appkit_compile})
string(JOIN " " DB_APPKIT_PC_LIBS ${db_appkit_link})
configure_file(${CMAKE_SOURCE_DIR}/cmake/desktopbridge-appkit.pc.in ${CMAKE_BINARY_DIR}/package/desktopbridge-appkit.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/desktopbridge.pc ${CMAKE_BINARY_DIR}/package/desktopbridge-appkit.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The installed (and packed) bundle is signed, ad hoc unless DB_CODESIGN_IDENTITY names an identity
# of the keychain. An ad hoc signature keeps the code intact and runs where no library validation
# applies; it has no Team ID, so a host with the hardened runtime loads it only with the entitlement
# com.apple.security.cs.disable-library-validation, and the notary service rejects it: an
# application that embeds the bundle re-signs it with its own Developer ID and a secure timestamp.
if(APPLE)
  set(DB_CODESIGN_IDENTITY "" CACHE STRING "Identity codesign signs the installed bundle with (empty: ad hoc)")
  set(codesign_identity "${DB_CODESIGN_IDENTITY}")
  set(codesign_options "")
  if(codesign_identity STREQUAL "")
    set(codesign_identity "-")
  else()
    # A real identity: the hardened runtime and a secure timestamp, as notarization asks.
    set(codesign_options "--options runtime --timestamp")
  endif()
  install(CODE "
    set(bundle \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/DesktopBridge.bundle\")
    execute_process(COMMAND codesign --force --sign \"${codesign_identity}\" ${codesign_options} \"\${bundle}\"
      RESULT_VARIABLE signed)
    if(NOT signed EQUAL 0)
      message(FATAL_ERROR \"codesign could not sign \${bundle}\")
    endif()")
endif()

# cpack: DesktopBridge-<version>-<system>.tar.gz (and .zip on macOS) of the installed tree.
set(CPACK_PACKAGE_NAME DesktopBridge)
set(CPACK_PACKAGE_VENDOR "The DesktopBridge developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop facilities for a host application, as a plug-in bundle")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(APPLE)
  set(CPACK_GENERATOR TGZ ZIP)
  set(CPACK_SYSTEM_NAME Darwin)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
