# Finds the OpenMAMA 6.3 install the bridge runs in.
#
#   OPENMAMA_ROOT    install prefix (include/mama, include/wombat, lib/libmama.so);
#                    default: $ENV{OPENMAMA_ROOT}, else /opt/openmama-6.3.2, where
#                    scripts/setup.sh builds it.
#   OPENMAMA_SOURCE  the matching OpenMAMA source tree; its internal bridge and
#                    payload headers (bridge.h, payloadbridge.h) are not installed,
#                    and the payload library and the bridge's signature check are
#                    compiled against them. Default: $ENV{OPENMAMA_SOURCE}, else
#                    <OPENMAMA_ROOT>/src/OpenMAMA-6.3.2.
#
# Defines the imported targets OpenMAMA::mama and OpenMAMA::wombatcommon (the
# libraries, with the installed headers), OpenMAMA::headers (headers only, for
# libraries the host loads and that must not link it) and OpenMAMA::internal
# (the source tree's internal headers).

set(_openmama_root_default /opt/openmama-6.3.2)
if(DEFINED ENV{OPENMAMA_ROOT} AND NOT "$ENV{OPENMAMA_ROOT}" STREQUAL "")
  set(_openmama_root_default $ENV{OPENMAMA_ROOT})
endif()
set(OPENMAMA_ROOT ${_openmama_root_default} CACHE PATH "OpenMAMA 6.3 install prefix")

if(NOT EXISTS ${OPENMAMA_ROOT}/include/mama/mama.h OR NOT EXISTS ${OPENMAMA_ROOT}/lib/libmama.so)
  message(FATAL_ERROR
    "OpenMAMA 6.3 was not found in OPENMAMA_ROOT=${OPENMAMA_ROOT} "
    "(it needs include/mama/mama.h and lib/libmama.so). Run scripts/setup.sh to build it "
    "from ../shared/openmama, or point -DOPENMAMA_ROOT (or the OPENMAMA_ROOT environment "
    "variable) at an existing install.")
endif()

set(_openmama_source_default ${OPENMAMA_ROOT}/src/OpenMAMA-6.3.2)
if(DEFINED ENV{OPENMAMA_SOURCE} AND NOT "$ENV{OPENMAMA_SOURCE}" STREQUAL "")
  set(_openmama_source_default $ENV{OPENMAMA_SOURCE})
endif()
set(OPENMAMA_SOURCE ${_openmama_source_default} CACHE PATH "OpenMAMA 6.3 source tree (internal headers)")
set(_openmama_internal ${OPENMAMA_SOURCE}/mama/c_cpp/src/c)
if(NOT EXISTS ${_openmama_internal}/bridge.h OR NOT EXISTS ${_openmama_internal}/payloadbridge.h)
  message(FATAL_ERROR
    "OpenMAMA's source tree was not found in OPENMAMA_SOURCE=${OPENMAMA_SOURCE} "
    "(it needs mama/c_cpp/src/c/bridge.h and payloadbridge.h, which an install does not "
    "carry). Unpack the OpenMAMA source release matching the install and point "
    "-DOPENMAMA_SOURCE (or the OPENMAMA_SOURCE environment variable) at it.")
endif()

file(STRINGS ${OPENMAMA_ROOT}/include/mama/version.h _openmama_version_lines
     REGEX "#define MAMA_VERSION_(MAJOR|MINOR) ")
string(REGEX MATCH "MAJOR ([0-9]+)" _major "${_openmama_version_lines}")
set(_major ${CMAKE_MATCH_1})
string(REGEX MATCH "MINOR ([0-9]+)" _minor "${_openmama_version_lines}")
set(_minor ${CMAKE_MATCH_1})
if(NOT "${_major}.${_minor}" STREQUAL "6.3")
  message(FATAL_ERROR "OpenMAMA in ${OPENMAMA_ROOT} is version ${_major}.${_minor}; the bridge needs 6.3")
endif()
message(STATUS "OpenMAMA ${_major}.${_minor}: ${OPENMAMA_ROOT} (source headers: ${OPENMAMA_SOURCE})")

add_library(OpenMAMA::headers INTERFACE IMPORTED)
set_target_properties(OpenMAMA::headers PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${OPENMAMA_ROOT}/include
  INTERFACE_COMPILE_DEFINITIONS OPENMAMA_INTEGRATION)

add_library(OpenMAMA::internal INTERFACE IMPORTED)
set_target_properties(OpenMAMA::internal PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${_openmama_internal};${OPENMAMA_ROOT}/include"
  INTERFACE_COMPILE_DEFINITIONS OPENMAMA_INTEGRATION)

foreach(_lib wombatcommon mama)
  add_library(OpenMAMA::${_lib} SHARED IMPORTED)
  set_target_properties(OpenMAMA::${_lib} PROPERTIES
    IMPORTED_LOCATION ${OPENMAMA_ROOT}/lib/lib${_lib}.so
    INTERFACE_LINK_LIBRARIES OpenMAMA::headers)
endforeach()
set_property(TARGET OpenMAMA::mama APPEND PROPERTY INTERFACE_LINK_LIBRARIES OpenMAMA::wombatcommon)

set(OPENMAMA_LIBRARY_DIR ${OPENMAMA_ROOT}/lib)
set(OPENMAMA_BINARY_DIR ${OPENMAMA_ROOT}/bin)
