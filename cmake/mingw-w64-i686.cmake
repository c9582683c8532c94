# Cross build for 32-bit (i686) Windows with MinGW-w64, from the same sources; the tests run
# under 32-bit Wine (wine32), in the same prefix as the x86_64 ones.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
