# Cross toolchain for 64-bit Windows (x86_64-w64-mingw32) with Debian's
# mingw-w64 packages, posix thread model (g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-x86_64.cmake
#
# Everything is linked with -static: the C++ runtime, libgcc and winpthreads
# go into each DLL and program, so the results need only the DLLs that every
# Windows installation has (KERNEL32.dll, msvcrt.dll). The project's own
# Windows settings (yyjson from source, GoogleTest from source, running under
# Wine) live in cmake/windows-build.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KRX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KRX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KRX_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${KRX_MINGW_TRIPLET}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${KRX_MINGW_TRIPLET}-ranlib CACHE FILEPATH "Ranlib")
set(CMAKE_OBJDUMP ${KRX_MINGW_TRIPLET}-objdump CACHE FILEPATH "Objdump")

# Search the cross sysroot for libraries and headers, the host for programs.
set(CMAKE_FIND_ROOT_PATH /usr/${KRX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
