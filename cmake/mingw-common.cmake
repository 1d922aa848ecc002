# Shared part of the MinGW-w64 toolchain files. The posix-thread flavour of the
# compiler is the one whose libstdc++ has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${KOVRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVRA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
