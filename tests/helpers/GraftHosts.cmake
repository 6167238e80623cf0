# Test hosts for the handlers grafted at load, one source built in three variants:
#   GraftHost         both host classes, neither defining any handler selector
#   GraftHostNoView   no "PlayerWindowView"
#   GraftHostCustom   a delegate with its own dock menu that only inherits application:openFile:
#   GraftHostOwnNames classes with other names, which the host names with attachHostClasses
# The drags they make are the sample host's own (host/tour/TourDragInfo).
set(graft_host_source ${CMAKE_CURRENT_SOURCE_DIR}/helpers/graft-host/GraftHost.mm
  ${CMAKE_SOURCE_DIR}/host/tour/TourDragInfo.mm)
db_objc_sources(${graft_host_source})
foreach(variant "GraftHost;1;0;0" "GraftHostNoView;0;0;0" "GraftHostCustom;1;1;0" "GraftHostOwnNames;1;0;1")
  list(GET variant 0 name)
  list(GET variant 1 with_view)
  list(GET variant 2 custom)
  list(GET variant 3 own_names)
  add_executable(${name} ${graft_host_source})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DB_TEST_HELPERS_DIR})
  target_include_directories(${name} PRIVATE ${DB_PUBLIC_INCLUDE_DIRS} ${CMAKE_CURRENT_SOURCE_DIR}/support
    ${CMAKE_SOURCE_DIR}/host/tour)
  target_compile_definitions(${name} PRIVATE ${DB_TEST_DEFINITIONS} GRAFT_HOST_VIEW=${with_view}
    GRAFT_HOST_CUSTOM=${custom} GRAFT_HOST_OWN_NAMES=${own_names})
  target_compile_options(${name} PRIVATE ${DB_WARNINGS})
  db_objc_target(${name})
  add_dependencies(${name} DesktopBridge)
  list(APPEND DB_TEST_HELPER_TARGETS ${name})
endforeach()
