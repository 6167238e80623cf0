# The programs beside bench_ProcessRunner, plain C: the child that writes the output, and the
# baseline driver that runs children with nothing but the C library.
add_executable(bench_output_writer ${CMAKE_CURRENT_SOURCE_DIR}/process/OutputWriter.c)
add_executable(bench_raw_driver ${CMAKE_CURRENT_SOURCE_DIR}/process/RawDriver.c)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/process/OutputWriter.c
  ${CMAKE_CURRENT_SOURCE_DIR}/process/RawDriver.c PROPERTIES LANGUAGE C)
target_compile_options(bench_raw_driver PRIVATE ${DB_WARNINGS})
if(TARGET bench_ProcessRunner)
  add_dependencies(bench_ProcessRunner bench_output_writer bench_raw_driver)
endif()
