# Cross-compiling for x86_64 Windows from Linux with Debian's mingw-w64 g++:
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake ...
#
# The posix thread model's compiler, since the win32 one of GCC 12 has no
# std::thread or std::mutex, which the binding uses. (GoogleTest
# enables C as well.)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)

# Libraries and headers come from the target's tree only; programs that run
# during the build (Python, dlltool) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
