# corvex_exported_names(<out-var> <header> <mark>)
# The names of the functions the header declares with <mark> at the start of
# a line (CORVEX_EXPORT, CORVEXMSG_EXPORT): a library's entry points for the
# host, and the only symbols that library exports.
function(corvex_exported_names out header mark)
  file(READ ${header} text)
  # Declarations start a line; the macro's own definition does not.
  string(REGEX MATCHALL "\n${mark}[^(;]*[ \t\n*]([A-Za-z0-9_]+)\\(" found "${text}")
  string(REGEX MATCHALL "\n${mark}[ \t]" marks "${text}")
  set(names)
  foreach(declaration ${found})
    string(REGEX REPLACE ".*[ \t\n*]([A-Za-z0-9_]+)\\($" "\\1" name "${declaration}")
    list(APPEND names ${name})
  endforeach()
  list(LENGTH names count)
  list(LENGTH marks expected)
  if(count EQUAL 0 OR NOT count EQUAL expected)
    message(FATAL_ERROR "read ${count} of the ${expected} ${mark} declarations in ${header}")
  endif()
  list(SORT names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# corvex_export_map(<file> <header> <mark>)
# Writes the linker version script that exports exactly the functions the
# header declares with <mark>; the header is a configure dependency.
function(corvex_export_map file header mark)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  corvex_exported_names(names ${header} ${mark})
  list(JOIN names ";\n      " lines)
  file(CONFIGURE OUTPUT ${file}
       CONTENT "{\n  global:\n    extern \"C\" {\n      ${lines};\n    };\n  local:\n    *;\n};\n")
endfunction()
