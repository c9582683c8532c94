# What both Windows builds share: the MinGW-w64 tools and libraries for CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(KOU3_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KOU3_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOU3_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KOU3_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KOU3_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything is linked statically so that the programs import only Windows system DLLs.
# The DLLs that the tests build too: an i686 DLL would otherwise import libgcc_s_dw2-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
