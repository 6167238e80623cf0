# What a host written in C needs to build AppKit objects and classes through the Objective-C
# runtime (objc/runtime.h, objc_allocateClassPair, messages), for the package's DesktopBridge::AppKit
# target and the desktopbridge-appkit.pc file:
#   desktopbridge_appkit_flags(<compile-options var> <link-items var>)
# Both lists stay empty when the platform's libraries are not found (no gnustep-config).
# macOS: the SDK has objc/runtime.h; the host links AppKit, Foundation and the runtime.
# GNUstep: the runtime's headers where gnustep-config's compiler keeps them (Debian: GCC's own
# include folder, which clang does not search; added after clang's own headers), and GNUstep's
# libraries linked even where the linker drops libraries nothing seems to use (--as-needed): a C
# host reaches them only through objc_getClass by name, which no linker sees.
function(desktopbridge_appkit_flags compile_var link_var)
  set(compile_options)
  set(link_items)
  if(APPLE)
    set(link_items "-framework AppKit" "-framework Foundation" "-lobjc")
  else()
    find_program(DESKTOPBRIDGE_GNUSTEP_CONFIG gnustep-config)
    if(DESKTOPBRIDGE_GNUSTEP_CONFIG)
      execute_process(COMMAND ${DESKTOPBRIDGE_GNUSTEP_CONFIG} --variable=CC OUTPUT_VARIABLE gnustep_cc
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(gnustep_cc STREQUAL "")
        set(gnustep_cc gcc)
      endif()
      execute_process(COMMAND ${gnustep_cc} -print-file-name=include OUTPUT_VARIABLE runtime_include
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(IS_ABSOLUTE "${runtime_include}" AND EXISTS "${runtime_include}/objc/runtime.h")
        list(APPEND compile_options -idirafter "${runtime_include}")
      endif()
      execute_process(COMMAND ${DESKTOPBRIDGE_GNUSTEP_CONFIG} --gui-libs OUTPUT_VARIABLE gui_libs
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      separate_arguments(gui_libs UNIX_COMMAND "${gui_libs}")
      set(directories)
      set(libraries)
      foreach(flag ${gui_libs})
        if(flag MATCHES "^-L(.+)$" AND IS_DIRECTORY "${CMAKE_MATCH_1}" AND NOT CMAKE_MATCH_1 MATCHES "^/usr/lib/?$")
          list(APPEND directories ${flag})
        elseif(flag MATCHES "^-l")
          list(APPEND libraries ${flag})
        endif()
      endforeach()
      set(link_items ${directories} "-Wl,--push-state,--no-as-needed" ${libraries} "-Wl,--pop-state" -pthread)
    endif()
  endif()
  set(${compile_var} "${compile_options}" PARENT_SCOPE)
  set(${link_var} "${link_items}" PARENT_SCOPE)
endfunction()
