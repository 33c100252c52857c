# Build helpers shared by every layer folder.

add_compile_options(-Wall -Wextra)
if(QUILLET_WERROR)
  add_compile_options(-Werror)
endif()

if(QUILLET_SANITIZE)
  add_compile_options(-fsanitize=${QUILLET_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILLET_SANITIZE})
endif()

if(QUILLET_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLET_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds PREFIX/<layer> for each layer that has a CMakeLists.txt.
function(quillet_add_layer_dirs prefix)
  foreach(layer ${ARGN})
    if(prefix)
      set(dir ${prefix}/${layer})
    else()
      set(dir ${layer})
    endif()
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${PROJECT_SOURCE_DIR}/${dir} ${PROJECT_BINARY_DIR}/${dir})
    endif()
  endforeach()
endfunction()

find_package(GTest QUIET)
include(GoogleTest)

# quillet_add_test(<layer>_<subject>_test SOURCES ... LIBS ... [TSAN] [TIMEOUT s] [LABELS ...]
#                  [QT_MAIN core|widgets|window] [LANGUAGE <locale>])
# TSAN marks a test binary whose subject is threading; only those are built when QUILLET_TSAN_ONLY is on.
# LABELS adds labels; "x11" marks tests that need an X display (scripts/test.sh runs them under Xvfb).
# QT_MAIN runs the tests inside a Qt application (tests/support/QtTestMain.cpp): a QCoreApplication,
# a QApplication, or the window's own; without it GoogleTest's own main runs them.
# LANGUAGE runs the tests with their messages in that locale's language (e.g. zh_CN, for tests that
# check the log's Chinese texts), whatever the caller's environment says.
# Every test links the test support library (tests/support).
function(quillet_add_test name)
  cmake_parse_arguments(T "TSAN" "TIMEOUT;QT_MAIN;LANGUAGE" "SOURCES;LIBS;LABELS" ${ARGN})
  if(QUILLET_TSAN_ONLY AND NOT T_TSAN)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(T_QT_MAIN)
    set(main quillet_test_main_${T_QT_MAIN})
  else()
    set(main GTest::gtest_main)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} quillet_test_support GTest::gtest GTest::gmock ${main})
  set(labels ${name} ${T_LABELS})
  if(T_TSAN)
    list(APPEND labels tsan)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # Discovery flattens a list-valued property ("LABELS a tsan" would drop tsan), so the labels
  # are set by a script CTest runs once the discovered tests exist.
  set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  set(properties "LABELS \"${labels}\"")
  if(T_LANGUAGE)
    # LANGUAGE comes first for gettext and Qt alike; LC_ALL would override LC_MESSAGES.
    string(APPEND properties " ENVIRONMENT_MODIFICATION \"LANGUAGE=set:${T_LANGUAGE}"
           ";LC_ALL=unset:;LC_MESSAGES=set:${T_LANGUAGE}.UTF-8\"")
  endif()
  file(WRITE ${label_script}
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
endfunction()

# quillet_add_benchmark(<layer>_<subject>_bench SOURCES ... LIBS ... [OWN_MAIN])
# OWN_MAIN: the sources define main (to create a Qt application first) instead of Google Benchmark.
function(quillet_add_benchmark name)
  cmake_parse_arguments(B "OWN_MAIN" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  if(NOT B_OWN_MAIN)
    target_link_libraries(${name} PRIVATE benchmark::benchmark_main)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/benchmarks)
endfunction()

# quillet_add_fuzzer(<layer>_<subject>_fuzz SOURCES ... LIBS ...): a libFuzzer binary in
# <build>/fuzzers; scripts/test.sh seeds it from fuzz/seeds/<its name>.
function(quillet_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
endfunction()
