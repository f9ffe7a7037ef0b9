# Helpers shared by every folder's CMakeLists.txt.

# Environment every test runs in: no display, software rendering, a web engine that may run as root.
set(SOLVANE_TEST_ENVIRONMENT
  QT_QPA_PLATFORM=offscreen
  QT_QUICK_BACKEND=software
  QTWEBENGINE_DISABLE_SANDBOX=1
  "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox --disable-background-networking"
  SOLVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  SOLVANE_BINARY_DIR=${CMAKE_BINARY_DIR})

# solvane_add_tests(<target> SOURCES <files...> LIBS <libs...> [LABELS <labels...>])
# One test executable per folder; GoogleTest cases are registered with CTest one by one.
# Discovery runs when the tests run, so building never starts a test binary.
function(solvane_add_tests target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${SOLVANE_TEST_ENVIRONMENT}" TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# solvane_add_benchmark(<target> SOURCES <files...> LIBS <libs...>)
# Benchmarks build only where Google Benchmark is installed; they are run by hand, never by CTest.
function(solvane_add_benchmark target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
