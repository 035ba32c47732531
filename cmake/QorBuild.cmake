# Compiler settings and helpers shared by every folder.

add_compile_options(-Wall -Wextra)

if(QOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QOR_FUZZ needs clang (CXX=clang++ CC=clang)")
  endif()
  # Libraries carry coverage instrumentation; the fuzzers link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

# A GoogleTest executable registered with CTest, one test per case.
#   qor_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS label] [TIMEOUT s])
function(qor_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  include(GoogleTest)
  # gtest_discover_tests flattens list-valued properties, so each test gets
  # one label and one environment variable; tests find the source tree
  # through a compile definition instead.
  list(GET T_LABELS 0 label)
  target_compile_definitions(${name} PRIVATE QOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${label}"
    ENVIRONMENT "QOR_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# A libFuzzer target. In a fuzz build it is a libFuzzer binary; in every
# other build the same entry point is linked with a replay main and run by
# CTest over the seed corpus and the kept crash inputs.
#   qor_add_fuzzer(NAME SOURCES f.cpp LIBS lib CORPUS dir [DICT file])
function(qor_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS;DICT" "SOURCES;LIBS" ${ARGN})
  if(QOR_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # One line per target for fuzz/run-fuzzers.sh: name, binary, corpus, dictionary, crash folder.
    file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt
         "${name}|${CMAKE_CURRENT_BINARY_DIR}/${name}|${F_CORPUS}|${F_DICT}|${CMAKE_CURRENT_SOURCE_DIR}/crashes/${name}\n")
  else()
    add_executable(replay_${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(replay_${name} PRIVATE ${F_LIBS})
    add_test(NAME fuzz_replay.${name}
             COMMAND replay_${name} ${F_CORPUS} ${CMAKE_CURRENT_SOURCE_DIR}/crashes/${name})
    set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 300 LABELS fuzz_replay)
  endif()
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
macro(qor_add_subfolders)
  file(GLOB _qor_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _qor_children)
  foreach(_qor_child ${_qor_children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_qor_child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_qor_child}/CMakeLists.txt)
      add_subdirectory(${_qor_child})
    endif()
  endforeach()
endmacro()
