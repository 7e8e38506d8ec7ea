# Cross-build of the settings utility (Tessaly.exe, tessaly-cli.exe) for 32-bit Windows.
# Same toolchain as the installer, with two differences the utility needs:
# - the "posix" thread model of MinGW-w64, because the utility uses std::thread and
#   std::mutex (GCC 12's "win32" model has neither);
# - the header-only libraries (fmt, CLI11, nlohmann_json, toml++) taken from the host's headers.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)

set(fmt_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-utility-packages CACHE PATH "" FORCE)
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-utility-packages CACHE PATH "" FORCE)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-utility-packages CACHE PATH "" FORCE)
set(tomlplusplus_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-utility-packages CACHE PATH "" FORCE)

# Self-contained programs: the GCC, C++ and thread run-times are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
