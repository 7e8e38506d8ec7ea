# CLI11 for the MinGW build: header-only, from the host's headers.
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
tessaly_host_header_library(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
