# Cross build for 32-bit Windows with mingw-w64: what a 32-bit OPC client loads (the proxy/stub
# DLL) and opcclient. Programs run under Wine's 32-bit loader (wine32).
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_cross.cmake)
