# Build helpers shared by every folder.
#
# A subsystem folder builds one static library from every .cpp below it;
# adding a file needs no CMake change (the glob is re-checked at build time).

function(cendrow_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    # Nothing built yet: an interface library keeps the dependency graph whole.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

# One GoogleTest executable per test folder, every test in it carrying LABEL.
function(cendrow_test_suite name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;EXCLUDE" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  # EXCLUDE: a regular expression for sources that belong to other targets.
  if(ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(NOT srcs)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # The program folder the build lays out (catalogues, CA bundle): see tests/support/program_dir.h.
  target_compile_definitions(${name} PRIVATE CENDROW_BUILT_PROGRAM_DIR="${CENDROW_PROGRAM_DIR}")
  # Listing the tests of a sanitizer build can take long on a busy machine.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "CENDROW_SOURCE_DIR=${PROJECT_SOURCE_DIR};CENDROW_PROGRAM_DIR=${CENDROW_PROGRAM_DIR};CENDROW_HOST_GUARD=1")
endfunction()
