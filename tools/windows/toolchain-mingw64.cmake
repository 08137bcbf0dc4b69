# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which Qt's
# std::thread use needs). Libraries and headers come only from the MinGW root and the prefixes that
# tools/windows/build.sh passes in RETRATIX_WINDOWS_PREFIXES; programs run on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_AR ${triplet}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${triplet}-gcc-ranlib-posix CACHE FILEPATH "")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RETRATIX_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} ${RETRATIX_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
