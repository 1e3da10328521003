# cmake -DNM=<nm> -DLIBRARY=<library> -DDECLARATIONS=<header> -DMARK=<mark>
#       -P checkExports.cmake
# Fails unless the library exports exactly the functions the header declares
# with <mark> for the host to look up.
include(${CMAKE_CURRENT_LIST_DIR}/exportedNames.cmake)
corvex_exported_names(declared ${DECLARATIONS} ${MARK})

execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
                OUTPUT_VARIABLE table RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the exports of ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(exported)
foreach(line ${lines})
  if(line MATCHES "^([^ ]+) ")
    list(APPEND exported ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT exported)

if(NOT exported STREQUAL declared)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${declared})
  set(missing ${declared})
  list(REMOVE_ITEM missing ${exported})
  message(FATAL_ERROR "${LIBRARY} exports other symbols than ${DECLARATIONS} declares;\n"
                      "exported, not declared: ${extra}\ndeclared, not exported: ${missing}")
endif()
list(LENGTH declared count)
message(STATUS "${LIBRARY}: ${count} host entry points, nothing else")
