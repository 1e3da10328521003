# cmake -DNM=<nm> -DLIBRARY=<libcorvexclient.so> -P checkProductionSymbols.cmake
# Fails when the production library exports a test-control function or needs
# a symbol of test control from elsewhere.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE defined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT defined MATCHES "corvexClient_msg_getDestination")
  message(FATAL_ERROR "cannot read the exports of ${LIBRARY}")
endif()
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the imports of ${LIBRARY}")
endif()
string(REGEX MATCHALL "[A-Za-z_]*(corvexClientTest_|corvexTest_|CorvexTestActive)[A-Za-z_]*" found
       "${defined}${undefined}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "${LIBRARY} carries test control: ${found}")
endif()
