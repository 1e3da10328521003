# corvex_add_gtests(<dir> LIBS <libs...> [DEPENDS <targets...>])
# Every <dir>/*_test.cpp becomes one GoogleTest binary; each test case runs in
# its own process under CTest, so process-wide state never leaks between cases.
# Every binary links the test-support library (testsupport/), and a binary
# that links the host (OpenMAMA::mama) also its host part.
# Every binary runs against the test build of the client library, which lives
# in its own directory under the same file name as the production library.
file(READ ${CMAKE_CURRENT_LIST_DIR}/openmama-lsan.supp CORVEX_LSAN_SUPPRESSIONS)
file(READ ${CMAKE_CURRENT_LIST_DIR}/openmama-tsan.supp CORVEX_TSAN_SUPPRESSIONS)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sanitizerSuppressions.cpp.in
               ${CMAKE_BINARY_DIR}/sanitizerSuppressions.cpp @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/openmama-lsan.supp ${CMAKE_CURRENT_LIST_DIR}/openmama-tsan.supp)
add_library(corvex_sanitizer_suppressions OBJECT ${CMAKE_BINARY_DIR}/sanitizerSuppressions.cpp)
set(CORVEX_TESTING_LIBRARY_DIR ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/testing)

function(corvex_add_gtests dir)
  cmake_parse_arguments(ARG "" "" "LIBS;DEPENDS;SOURCES" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} corvex_testsupport corvex_sanitizer_suppressions
                          GTest::gtest GTest::gtest_main Threads::Threads)
    if("OpenMAMA::mama" IN_LIST ARG_LIBS)
      target_link_libraries(${name} PRIVATE corvex_testsupport_host)
    endif()
    # The test build's directory comes first, so the binary loads it rather
    # than the production library of the same name; a binary that calls
    # nothing of it still loads it, for the bridge the host opens later to
    # bind to.
    set_target_properties(${name} PROPERTIES BUILD_RPATH
                          "${CORVEX_TESTING_LIBRARY_DIR};${CMAKE_LIBRARY_OUTPUT_DIRECTORY};${OPENMAMA_LIBRARY_DIR}")
    target_link_options(${name} PRIVATE LINKER:--no-as-needed)
    if(ARG_DEPENDS)
      add_dependencies(${name} ${ARG_DEPENDS})
    endif()
    # The sanitizer runtimes intercept dlopen and do not honour the host
    # library's runpath, so the library directories are also named
    # explicitly.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                         PROPERTIES TIMEOUT 120
                         ENVIRONMENT "LD_LIBRARY_PATH=${CORVEX_TESTING_LIBRARY_DIR}:${CMAKE_LIBRARY_OUTPUT_DIRECTORY}:${OPENMAMA_LIBRARY_DIR}")
  endforeach()
endfunction()
