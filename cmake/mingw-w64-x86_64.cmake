# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers; the programs run here under
# Wine. scripts/install-windows-tools installs what this needs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: its libstdc++ has std::thread and std::mutex, which the win32 model
# of this GCC lacks.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers come from the MinGW-w64 tree only, never from Linux's; programs that the
# build runs are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# off_t, fseeko, ftello, lseek and stat are 32-bit by default here; this makes them the 64-bit
# ones, as they are on 64-bit Linux.
string(APPEND CMAKE_C_FLAGS_INIT " -D_FILE_OFFSET_BITS=64")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_FILE_OFFSET_BITS=64")

# libgcc, libstdc++ and winpthread linked in, so that each .exe needs only the DLLs that every
# Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# ctest and gtest_discover_tests start the test programs through Wine.
cmake_path(SET CMAKE_CROSSCOMPILING_EMULATOR NORMALIZE ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
