# nlohmann_json for the MinGW build: header-only, from the host's headers.
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
tessaly_host_header_library(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_FOUND TRUE)
set(nlohmann_json_VERSION 3.11.2)
