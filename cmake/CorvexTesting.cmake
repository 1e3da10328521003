# corvex_add_gtests(<dir> LIBS <libs...> [DEPENDS <targets...>])
# Every <dir>/*_test.cpp becomes one GoogleTest binary; each test case runs in
# its own process under CTest, so process-wide state never leaks between cases.
function(corvex_add_gtests dir)
  cmake_parse_arguments(ARG "" "" "LIBS;DEPENDS;SOURCES" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    if(ARG_DEPENDS)
      add_dependencies(${name} ${ARG_DEPENDS})
    endif()
    # The sanitizer runtimes intercept dlopen and do not honour the host
    # library's runpath, so the library directories are also named
    # explicitly. The leak checker skips what OpenMAMA itself leaks.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                         PROPERTIES TIMEOUT 120
                         ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_LIBRARY_OUTPUT_DIRECTORY}:${OPENMAMA_LIBRARY_DIR}"
                         ENVIRONMENT_MODIFICATION
                           "LSAN_OPTIONS=set:suppressions=${CMAKE_SOURCE_DIR}/cmake/openmama-leaks.supp")
  endforeach()
endfunction()
