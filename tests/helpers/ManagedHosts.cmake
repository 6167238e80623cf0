# Test hosts that embed a managed runtime and run the bindings' tests in it, on the main thread:
#   PythonHost   embeds libpython3 and runs managed/test_bindings.py
#   MonoHost     embeds Mono and runs managed/BindingsTest.exe, compiled here with mcs
# and the Python binding in a plain interpreter, without application or display
# (managed/plain_script.py).
# Both are application bundles (so getAppVersion has a version to give) that export their test
# controls (managed-host/HostControls.h) to the managed code.
set(managed_host_dir ${CMAKE_CURRENT_SOURCE_DIR}/helpers/managed-host)
set(managed_tests_dir ${CMAKE_CURRENT_SOURCE_DIR}/managed)
set(managed_common ${managed_host_dir}/HostControls.mm ${CMAKE_SOURCE_DIR}/host/tour/TourDragInfo.mm)
set(managed_environment
  DB_BUNDLE_DIR=${DB_BUNDLE_DIR}
  DB_BINDINGS_DIR=${CMAKE_SOURCE_DIR}/bindings
  DB_PROCESS_CHILD=${DB_TEST_HELPERS_DIR}/ProcessChild
  DB_PROJECT_VERSION=${DesktopBridge_VERSION}
  PYTHONDONTWRITEBYTECODE=1)

function(db_managed_host name source)
  db_objc_sources(${source} ${managed_common})
  add_executable(${name} ${source} ${managed_common})
  db_app_bundle(${name} DIR ${DB_TEST_HELPERS_DIR} IDENTIFIER org.desktopbridge.${name} VERSION 22.1)
  target_include_directories(${name} PRIVATE ${DB_PUBLIC_INCLUDE_DIRS} ${CMAKE_CURRENT_SOURCE_DIR}/support
    ${CMAKE_SOURCE_DIR}/host/tour ${managed_host_dir})
  target_compile_definitions(${name} PRIVATE ${DB_TEST_DEFINITIONS})
  target_link_libraries(${name} PRIVATE db_test_support)
  target_compile_options(${name} PRIVATE ${DB_WARNINGS})
  # The managed code finds the host's controls among the executable's own symbols.
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  db_objc_target(${name})
  add_dependencies(${name} DesktopBridge ProcessChild)
endfunction()

function(db_managed_test name host)
  add_test(NAME managed.${name}
    COMMAND ${DB_TEST_HELPERS_DIR}/${host}.app/${DB_APP_BINARY_SUBDIR}${host} ${DB_GUI_ARGS})
  set_tests_properties(managed.${name} PROPERTIES LABELS "managed;gui" TIMEOUT 600 SKIP_RETURN_CODE 77
    ENVIRONMENT "${managed_environment};${ARGN}")
endfunction()

# A part that cannot be built here is still a test, which says why it is skipped.
function(db_skipped_managed_test name reason)
  add_test(NAME managed.${name} COMMAND sh -c "echo 'skipped: ${reason}'; exit 77")
  set_tests_properties(managed.${name} PROPERTIES LABELS "managed" SKIP_RETURN_CODE 77)
endfunction()

find_package(Python3 COMPONENTS Development.Embed)
if(Python3_Development.Embed_FOUND)
  db_managed_host(PythonHost ${managed_host_dir}/PythonHost.mm)
  target_link_libraries(PythonHost PRIVATE Python3::Python)
  db_managed_test(PythonBinding PythonHost MANAGED_HOST_SCRIPT=${managed_tests_dir}/test_bindings.py)
else()
  message(WARNING "Python's embedding library was not found (Debian: libpython3-dev): the Python binding's "
    "tests are skipped")
  db_skipped_managed_test(PythonBinding "Python's embedding library (libpython3-dev) was not found when configuring")
endif()

# A sanitized bundle loads only into a sanitized host, which a plain interpreter is not.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT DB_SANITIZE AND NOT DB_SANITIZE_THREAD)
  add_test(NAME managed.PythonPlainScript COMMAND ${Python3_EXECUTABLE} ${managed_tests_dir}/plain_script.py)
  # No display: DISPLAY is emptied, so GNUstep has none to connect to.
  set_tests_properties(managed.PythonPlainScript PROPERTIES LABELS "managed;nodisplay" TIMEOUT 120
    ENVIRONMENT "${managed_environment};DISPLAY=")
  # The documented plain-script example, on the build tree. Its Trash step moves a file of its own
  # into a Trash inside its folder; on macOS that would be the user's Trash, so it is left out there.
  set(example_dir ${CMAKE_CURRENT_BINARY_DIR}/python-example)
  set(example_trash "")
  set(example_check "")
  if(NOT APPLE)
    set(example_trash "--trash \"$1/scratch.txt\"")
    set(example_check "&& test -f \"$1/data/Trash/files/scratch.txt\"")
  endif()
  add_test(NAME managed.PythonPlainScriptExample
    COMMAND sh -c "rm -rf \"$1\" && mkdir -p \"$1/data\" && : > \"$1/scratch.txt\" && XDG_DATA_HOME=\"$1/data\" \
\"$2\" \"$3\" --bundle \"$4\" --bindings \"$5\" ${example_trash} ${example_check}"
      sh ${example_dir} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/examples/python/plain_script.py ${DB_BUNDLE_DIR}
      ${CMAKE_SOURCE_DIR}/bindings)
  set_tests_properties(managed.PythonPlainScriptExample PROPERTIES LABELS "managed;nodisplay" TIMEOUT 120
    ENVIRONMENT "DISPLAY=;PYTHONDONTWRITEBYTECODE=1")
endif()

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(MONO IMPORTED_TARGET mono-2)
endif()
find_program(DB_MCS mcs)
if(MONO_FOUND AND DB_MCS)
  db_managed_host(MonoHost ${managed_host_dir}/MonoHost.mm)
  target_link_libraries(MonoHost PRIVATE PkgConfig::MONO)
  set(assembly ${DB_TEST_HELPERS_DIR}/BindingsTest.exe)
  set(assembly_sources ${CMAKE_SOURCE_DIR}/bindings/dotnet/DesktopBridge.cs ${managed_tests_dir}/BindingsTest.cs)
  # mcs knows the language up to 7.2: a file it builds at that level builds at 7.3 with the .NET SDK.
  add_custom_command(OUTPUT ${assembly}
    COMMAND ${DB_MCS} -langversion:7.2 -unsafe- -warnaserror+ -nologo -out:${assembly} ${assembly_sources}
    DEPENDS ${assembly_sources}
    COMMENT "Compiling the C# binding's test assembly")
  add_custom_target(BindingsTestAssembly DEPENDS ${assembly})
  add_dependencies(MonoHost BindingsTestAssembly)
  db_managed_test(CSharpBinding MonoHost MANAGED_HOST_ASSEMBLY=${assembly})
else()
  message(WARNING "Mono (Debian: mono-runtime, mono-mcs, libmono-2.0-dev) was not found: the C# binding's "
    "tests are skipped")
  db_skipped_managed_test(CSharpBinding "Mono (mono-runtime, mono-mcs, libmono-2.0-dev) was not found when configuring")
endif()
