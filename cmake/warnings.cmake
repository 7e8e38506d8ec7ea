# Project-wide warning policy, applied per target so third-party code is untouched.
function(tessaly_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast)
  if(TESSALY_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Declares a GoogleTest executable registered with CTest.
#   tessaly_add_test(NAME name SOURCES ... LIBS ... [WRAPPER cmd...])
function(tessaly_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  tessaly_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(T_WRAPPER)
    add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
