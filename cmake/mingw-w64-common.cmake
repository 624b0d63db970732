# Shared part of the MinGW-w64 toolchains: the including file sets CMAKE_SYSTEM_PROCESSOR
# and QMV_MINGW_TRIPLET first.
# The posix thread model gives the full C++ thread library; it is linked statically.
find_program(CMAKE_CXX_COMPILER NAMES ${QMV_MINGW_TRIPLET}-g++-posix ${QMV_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QMV_MINGW_TRIPLET}-gcc-posix ${QMV_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QMV_MINGW_TRIPLET}-windres REQUIRED)
find_program(QMV_WIDL NAMES ${QMV_MINGW_TRIPLET}-widl widl)

set(CMAKE_FIND_ROOT_PATH /usr/${QMV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links the C and C++ runtimes statically, so the DLL imports system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine.
find_program(QMV_WINE NAMES wine wine64)
if(QMV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QMV_WINE})
endif()
