# fmt for the MinGW build, header-only (the host's library is not a Windows one).
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
tessaly_host_header_library(fmt::fmt fmt)
set_property(TARGET fmt::fmt PROPERTY INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
set(fmt_FOUND TRUE)
