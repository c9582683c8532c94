# Cross build for 32-bit (i686) Windows with MinGW-w64, from the same sources. No program of it
# runs here (this kernel runs no 32-bit code and Wine has no 32-bit support installed), so the
# preset builds only kou3upd.exe and checks its headers.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
