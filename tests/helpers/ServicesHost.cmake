# ServicesHost.app: a small application bundle for the tests of the application services, which
# need a real bundle (its Info dictionary, its executable started again as a second instance).
set(services_host_source ${CMAKE_CURRENT_SOURCE_DIR}/helpers/services-host/ServicesHost.mm)
add_executable(ServicesHost ${services_host_source})
db_objc_sources(${services_host_source})
db_app_bundle(ServicesHost DIR ${DB_TEST_HELPERS_DIR} IDENTIFIER org.desktopbridge.ServicesHost VERSION 1234)
target_include_directories(ServicesHost PRIVATE ${DB_PUBLIC_INCLUDE_DIRS} ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_compile_definitions(ServicesHost PRIVATE ${DB_TEST_DEFINITIONS})
db_objc_target(ServicesHost)
add_dependencies(ServicesHost DesktopBridge)
list(APPEND DB_TEST_HELPER_TARGETS ServicesHost)
