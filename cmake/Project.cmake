# Shared helpers for the subsystem folders.

# project_library(NAME [DEPS lib...]): one static library from every .cpp of
# the calling folder (sub-folders excluded).
function(project_library name)
  cmake_parse_arguments(PL "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  if(PL_DEPS)
    target_link_libraries(${name} ${scope} ${PL_DEPS})
  endif()
endfunction()

# project_test(NAME [DEPS lib...]): one GoogleTest binary from every .cpp of
# the calling folder; each test case becomes a CTest test.
function(project_test name)
  cmake_parse_arguments(PT "" "" "DEPS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${PT_DEPS} GTest::gtest GTest::gtest_main GTest::gmock pthread)
  target_compile_definitions(${name} PRIVATE TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 30
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# project_bench(NAME [DEPS lib...]): one Google Benchmark binary from every
# .cpp of the calling folder. Built, never run by the tests.
function(project_bench name)
  cmake_parse_arguments(PB "" "" "DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${PB_DEPS} benchmark::benchmark pthread)
endfunction()
