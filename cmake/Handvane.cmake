# Helpers shared by every folder: one call per library, program, test and fuzz target.
#
#   hv_library(<Name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
#       lib<Name>.so in build/suite with RPATH $ORIGIN. Also <Name>_static, built from the same
#       objects, for tests that reach below the exported interface.
#   hv_program(<Name> SOURCES ... [DEPS ...])          a program in build/suite
#   hv_test(<name> SOURCES ... [DEPS ...] [TIMEOUT s] [LABELS ...])
#                                                      a GoogleTest program registered with CTest
#   hv_fuzzer(<name> SOURCES ... [DEPS ...] [CORPUS dir])
#       a libFuzzer target with HV_FUZZ; otherwise a replay program that runs every file of the
#       corpus through the target once, registered with CTest.

set(HV_SUITE_DIR ${CMAKE_BINARY_DIR}/suite CACHE INTERNAL "")
set(HV_TEST_DIR ${CMAKE_BINARY_DIR}/tests CACHE INTERNAL "")
file(MAKE_DIRECTORY ${HV_SUITE_DIR} ${HV_TEST_DIR})

add_compile_options(-Wall -Wextra)
if(HV_WERROR)
  add_compile_options(-Werror)
endif()
if(HV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(HV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "HV_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Every target sees the source root, so includes read "platform/gbk.h", "utils/function.h".
include_directories(${CMAKE_SOURCE_DIR})

function(hv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name}_objs OBJECT ${A_SOURCES})
  target_link_libraries(${name}_objs PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objs>)
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${HV_SUITE_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_objs>)
  target_link_libraries(${name}_static PUBLIC ${A_DEPS} ${A_PRIVATE_DEPS})
  set_target_properties(${name}_static PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  install(TARGETS ${name} LIBRARY DESTINATION .)
endfunction()

function(hv_program name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${HV_SUITE_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} RUNTIME DESTINATION .)
endfunction()

function(hv_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main pthread)
  target_compile_definitions(${name} PRIVATE
    HV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" HV_SUITE_DIR="${HV_SUITE_DIR}"
    HV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${HV_TEST_DIR}
    BUILD_RPATH "${HV_SUITE_DIR}")
  set(props TIMEOUT ${A_TIMEOUT})
  if(A_LABELS)
    list(APPEND props LABELS "${A_LABELS}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${HV_TEST_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

function(hv_fuzzer name)
  cmake_parse_arguments(A "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz
    BUILD_RPATH "${HV_SUITE_DIR}")
  # scripts/fuzz.sh seeds the fuzzer from the corpus this file names.
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-corpus/${name} "${A_CORPUS}")
  if(HV_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    if(A_CORPUS)
      add_test(NAME fuzz-replay.${name} COMMAND ${name} ${A_CORPUS})
      set_tests_properties(fuzz-replay.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
    endif()
  endif()
endfunction()
