# toml++ for the MinGW build: its headers from the host (the library is compiled
# header-only into the profile code).
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
tessaly_host_header_library(tomlplusplus::tomlplusplus toml++)
set(tomlplusplus_FOUND TRUE)
