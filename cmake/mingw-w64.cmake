# Cross build for x86_64 Windows with MinGW-w64; tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
# The tests run under Wine, through a wrapper that keeps one Wine server up for the whole run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
