# The 32-bit configuration, built by the 64-bit one: the x86 proxy/stub DLL, opcclient and the
# tests of that DLL, into bin/x86 beside the 64-bit programs (the layout opcreg expects).
include(ExternalProject)

set(OPC_X86_BIN_DIR ${CMAKE_BINARY_DIR}/bin/x86)
ExternalProject_Add(x86_client
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/x86
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw32-toolchain.cmake
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${OPC_X86_BIN_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${OPC_X86_BIN_DIR}/opc_proxy.dll ${OPC_X86_BIN_DIR}/opcclient.exe)

# One CTest run covers both configurations; the x86 tests carry an "_x86" suffix.
file(WRITE ${CMAKE_BINARY_DIR}/x86_tests.cmake "subdirs(\"${CMAKE_BINARY_DIR}/x86\")\n")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
             ${CMAKE_BINARY_DIR}/x86_tests.cmake)
