# ServicesHost.app: a small application bundle for the tests of the application services, which
# need a real bundle (its Info dictionary, its executable started again as a second instance).
set(SERVICES_HOST_APP_DIR ${DB_TEST_HELPERS_DIR}/ServicesHost.app)
set(services_host_source ${CMAKE_CURRENT_SOURCE_DIR}/helpers/services-host/ServicesHost.mm)
add_executable(ServicesHost ${services_host_source})
set_source_files_properties(${services_host_source} PROPERTIES LANGUAGE CXX)
set_target_properties(ServicesHost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SERVICES_HOST_APP_DIR})
target_include_directories(ServicesHost PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_definitions(ServicesHost PRIVATE ${DB_TEST_DEFINITIONS})
db_objc_target(ServicesHost)
add_dependencies(ServicesHost DesktopBridge)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/helpers/services-host/Info-gnustep.plist
  ${SERVICES_HOST_APP_DIR}/Resources/Info-gnustep.plist COPYONLY)
list(APPEND DB_TEST_HELPER_TARGETS ServicesHost)
