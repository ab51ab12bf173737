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
#   hv_testkit(<name> HEADERS ... [DEPS ...])
#       header-only helpers of a folder's tests that tests of other folders may link.
#
# Header roots. No target sees the source root. Every target gets a root of its own,
# build/hdr/<target>, holding a symbolic link for each header of the folder it is defined in,
# under the folder's path: build/hdr/Netkit/transport/netkit.h -> transport/netkit.h. Includes
# are therefore spelt from the source root ("transport/netkit.h"), and a target finds a header
# only in its own folder or in the root of a target it links. Libraries publish their root
# (PUBLIC), so linking a library is what makes its headers visible; programs, tests and fuzz
# targets keep theirs to themselves and also see the headers below their folder's tests/.
# Subfolders that have a CMakeLists.txt of their own are other targets' folders and are left
# out; libraries leave out tests/. Targets made with plain add_library/add_executable get the
# same root from hv_finish_layers() at the end of the top-level CMakeLists.
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
if(HV_TSAN)
  if(HV_SANITIZE)
    message(FATAL_ERROR "HV_TSAN and HV_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(HV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "HV_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(HV_HEADER_ROOTS ${CMAKE_BINARY_DIR}/hdr CACHE INTERNAL "")

# The headers of <folder> (relative to it) that belong to a target defined there.
function(_hv_folder_headers out folder with_tests)
  set(base ${CMAKE_SOURCE_DIR}/${folder})
  file(GLOB_RECURSE found CONFIGURE_DEPENDS LIST_DIRECTORIES false RELATIVE ${base}
    ${base}/*.h ${base}/*.hpp ${base}/*.inc)
  set(kept)
  foreach(f IN LISTS found)
    get_filename_component(dir ${f} DIRECTORY)
    set(own TRUE)
    while(dir)
      get_filename_component(leaf ${dir} NAME)
      if(EXISTS ${base}/${dir}/CMakeLists.txt OR (NOT with_tests AND leaf STREQUAL "tests"))
        set(own FALSE)
        break()
      endif()
      get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
    if(own)
      list(APPEND kept ${f})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# hv_header_root(<target> <PUBLIC|PRIVATE|INTERFACE> [TESTS] [FOLDER f] [ROOT name] [HEADERS h...])
#   Builds build/hdr/<target> (or build/hdr/<name>) from the headers of FOLDER (default: the folder of the calling
#   CMakeLists; with TESTS its tests/ too) or from exactly HEADERS (relative to FOLDER), and adds
#   it to the target's include path with the given scope.
function(hv_header_root target scope)
  cmake_parse_arguments(A "TESTS" "FOLDER;ROOT" "HEADERS" ${ARGN})
  if(DEFINED A_FOLDER)
    set(folder ${A_FOLDER})
  else()
    file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(A_HEADERS)
    set(headers ${A_HEADERS})
  else()
    _hv_folder_headers(headers "${folder}" ${A_TESTS})
  endif()
  if(NOT A_ROOT)
    set(A_ROOT ${target})
  endif()
  set(root ${HV_HEADER_ROOTS}/${A_ROOT})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(h IN LISTS headers)
    get_filename_component(dir ${root}/${folder}/${h} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder}/${h} ${root}/${folder}/${h} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
  set_target_properties(${target} PROPERTIES HV_HEADER_ROOT ${root} HV_FOLDER "${folder}")
endfunction()

# Shared by every replay program, so that its source is compiled once.
if(NOT HV_FUZZ AND NOT TARGET hv_fuzz_replay)
  add_library(hv_fuzz_replay STATIC ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  set_target_properties(hv_fuzz_replay PROPERTIES HV_HEADER_ROOT none HV_FOLDER tests/fuzz)
endif()

function(hv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name}_objs OBJECT ${A_SOURCES})
  target_link_libraries(${name}_objs PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  hv_header_root(${name}_objs PUBLIC ROOT ${name})
  get_target_property(root ${name}_objs HV_HEADER_ROOT)
  get_target_property(folder ${name}_objs HV_FOLDER)
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objs>)
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  target_include_directories(${name} PUBLIC ${root})
  set_target_properties(${name} PROPERTIES HV_HEADER_ROOT ${root} HV_FOLDER "${folder}"
    LIBRARY_OUTPUT_DIRECTORY ${HV_SUITE_DIR}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_objs>)
  target_link_libraries(${name}_static PUBLIC ${A_DEPS} ${A_PRIVATE_DEPS})
  target_include_directories(${name}_static PUBLIC ${root})
  set_target_properties(${name}_static PROPERTIES HV_HEADER_ROOT ${root} HV_FOLDER "${folder}"
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  install(TARGETS ${name} LIBRARY DESTINATION .)
endfunction()

function(hv_program name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  hv_header_root(${name} PRIVATE)
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
  hv_header_root(${name} PRIVATE TESTS)
  target_compile_definitions(${name} PRIVATE
    HV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" HV_SUITE_DIR="${HV_SUITE_DIR}"
    HV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${HV_TEST_DIR}
    BUILD_RPATH "${HV_SUITE_DIR}")
  # Every test case is labelled with its program's name, so that a stage can pick programs
  # (ctest -L '^(platform_test|svclink_test)$').
  set(props TIMEOUT ${A_TIMEOUT} LABELS ${name})
  if(A_LABELS)
    set(props TIMEOUT ${A_TIMEOUT} LABELS "${name};${A_LABELS}")
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
  hv_header_root(${name} PRIVATE TESTS)
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz
    BUILD_RPATH "${HV_SUITE_DIR}")
  # scripts/fuzz.sh seeds the fuzzer from the corpus this file names, and builds them all
  # through the target fuzz_targets.
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-corpus/${name} "${A_CORPUS}")
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets ${name})
  if(HV_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${name} PRIVATE hv_fuzz_replay)
    if(A_CORPUS)
      add_test(NAME fuzz-replay.${name} COMMAND ${name} ${A_CORPUS})
      set_tests_properties(fuzz-replay.${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
    endif()
  endif()
endfunction()

# hv_testkit(<name> HEADERS ... [DEPS ...]): header-only helpers of a folder's tests (starting
# peers, a scratch folder) for the tests of other folders. Only tests and benchmarks link these.
function(hv_testkit name)
  cmake_parse_arguments(A "" "" "HEADERS;DEPS" ${ARGN})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${A_DEPS})
  hv_header_root(${name} INTERFACE HEADERS ${A_HEADERS})
  set_target_properties(${name} PROPERTIES HV_TESTKIT TRUE)
endfunction()

# Every buildsystem target below <dir>.
function(_hv_targets_below out dir)
  get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
  get_directory_property(subdirs DIRECTORY ${dir} SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _hv_targets_below(more ${sub})
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The targets and imported libraries <target> links, directly or through what it links.
function(_hv_link_closure out target)
  set(seen)
  get_target_property(todo ${target} LINK_LIBRARIES)
  get_target_property(iface ${target} INTERFACE_LINK_LIBRARIES)
  list(APPEND todo ${iface})
  list(FILTER todo EXCLUDE REGEX "-NOTFOUND$")
  while(todo)
    list(POP_FRONT todo item)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item IN_LIST seen OR item MATCHES "^\\$<")
      continue()
    endif()
    list(APPEND seen ${item})
    if(TARGET ${item})
      get_target_property(next ${item} INTERFACE_LINK_LIBRARIES)
      if(next)
        list(APPEND todo ${next})
      endif()
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Called once at the end of the top-level CMakeLists, when every target exists:
# - gives targets made without the helpers their folder's header root;
# - refuses a source file compiled into two targets;
# - refuses a target in a folder of cmake/qt-free-folders.txt that links Qt or a ui/ library.
function(hv_finish_layers)
  _hv_targets_below(targets ${CMAKE_SOURCE_DIR})
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/qt-free-folders.txt qt_free REGEX "^[^#]")
  list(TRANSFORM qt_free STRIP)
  set(compiled)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|INTERFACE_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    get_target_property(dir ${t} SOURCE_DIR)
    file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${dir})
    get_target_property(root ${t} HV_HEADER_ROOT)
    if(NOT root AND folder)
      if(type STREQUAL "EXECUTABLE")
        hv_header_root(${t} PRIVATE TESTS FOLDER ${folder})
      elseif(type STREQUAL "INTERFACE_LIBRARY")
        hv_header_root(${t} INTERFACE FOLDER ${folder})
      else()
        hv_header_root(${t} PUBLIC FOLDER ${folder})
      endif()
    endif()

    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(sources ${t} SOURCES)
      foreach(src IN LISTS sources)
        if(src MATCHES "^\\$<" OR NOT src MATCHES "\\.(c|cc|cpp|cxx)$")
          continue()
        endif()
        get_filename_component(src ${src} ABSOLUTE BASE_DIR ${dir})
        string(MD5 key "${src}")
        get_property(owner GLOBAL PROPERTY HV_COMPILED_${key})
        if(owner AND NOT owner STREQUAL t)
          message(FATAL_ERROR "${src} is compiled into both ${owner} and ${t}: a source belongs "
            "to one target; the other links it")
        endif()
        set_property(GLOBAL PROPERTY HV_COMPILED_${key} ${t})
      endforeach()
    endif()

    foreach(free IN LISTS qt_free)
      if(folder STREQUAL free OR folder MATCHES "^${free}/")
        _hv_link_closure(linked ${t})
        foreach(dep IN LISTS linked)
          set(bad FALSE)
          if(dep MATCHES "^Qt[0-9]*::")
            set(bad TRUE)
          elseif(TARGET ${dep})
            get_target_property(imported ${dep} IMPORTED)
            get_target_property(depdir ${dep} SOURCE_DIR)
            if(NOT imported AND depdir MATCHES "^${CMAKE_SOURCE_DIR}/ui(/|$)")
              set(bad TRUE)
            endif()
          endif()
          if(bad)
            message(FATAL_ERROR "${t} (${folder}/) links ${dep}: ${free}/ stays free of Qt and "
              "ui/ (cmake/qt-free-folders.txt)")
          endif()
        endforeach()
        break()
      endif()
    endforeach()
  endforeach()
endfunction()
