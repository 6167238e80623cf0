# The child of the process benchmark: a plain C program beside bench_ProcessRunner.
add_executable(bench_output_writer ${CMAKE_CURRENT_SOURCE_DIR}/process/OutputWriter.c)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/process/OutputWriter.c PROPERTIES LANGUAGE C)
if(TARGET bench_ProcessRunner)
  add_dependencies(bench_ProcessRunner bench_output_writer)
endif()
