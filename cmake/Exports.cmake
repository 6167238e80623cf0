# The bundle's exported symbols: the first word of every line of exports.txt that starts with a
# letter or an underscore. db_write_export_list writes them in a linker's format, and only when the
# text changes, so that an unchanged list does not relink; the bundle's LINK_DEPENDS names the file.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/exports.txt)
file(STRINGS ${CMAKE_SOURCE_DIR}/exports.txt db_export_lines REGEX "^[A-Za-z_]")
set(DB_EXPORTED_SYMBOLS)
foreach(line ${db_export_lines})
  string(REGEX REPLACE "[ \t].*$" "" symbol "${line}")
  list(APPEND DB_EXPORTED_SYMBOLS ${symbol})
endforeach()

# db_write_export_list(file line_format header footer): header, then line_format once per symbol
# with @SYMBOL@ replaced by it, then footer.
function(db_write_export_list file line_format header footer)
  set(text "${header}")
  foreach(symbol ${DB_EXPORTED_SYMBOLS})
    string(REPLACE "@SYMBOL@" "${symbol}" line "${line_format}")
    string(APPEND text "${line}\n")
  endforeach()
  string(APPEND text "${footer}")
  file(WRITE ${file}.new "${text}")
  configure_file(${file}.new ${file} COPYONLY)
endfunction()
