# Makes one header-only library of the host usable in the MinGW build: a folder in the
# build tree holds a link to just that library's headers, so that no other host header
# (glibc's) can be picked up by the cross compiler.
function(tessaly_host_header_library target folder)
  if(TARGET ${target})
    return()
  endif()
  set(staging ${CMAKE_BINARY_DIR}/host-headers/${folder})
  file(MAKE_DIRECTORY ${staging})
  if(NOT EXISTS ${staging}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${staging}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  # -isystem: the host library's own warnings are not ours to fix.
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${staging}
                                             INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${staging})
endfunction()
