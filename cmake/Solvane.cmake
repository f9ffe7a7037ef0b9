# Helpers shared by every folder's CMakeLists.txt.

# Environment every test runs in: no display, software rendering, a web engine that may run as root.
set(SOLVANE_TEST_ENVIRONMENT
  QT_QPA_PLATFORM=offscreen
  QT_QUICK_BACKEND=software
  QTWEBENGINE_DISABLE_SANDBOX=1
  "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox --disable-background-networking"
  SOLVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  SOLVANE_BINARY_DIR=${CMAKE_BINARY_DIR})

# Sanitizer builds: every report ends the process with a failure; leaks count at exit. Reports
# that start wholly inside the system's libraries are listed, with the reason, in the
# suppression files of cmake/sanitizers.
set(SOLVANE_SANITIZER_DIR ${CMAKE_SOURCE_DIR}/cmake/sanitizers)
if(SOLVANE_SANITIZE STREQUAL "address")
  list(APPEND SOLVANE_TEST_ENVIRONMENT
    ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    LSAN_OPTIONS=suppressions=${SOLVANE_SANITIZER_DIR}/lsan.supp:print_suppressions=0)
elseif(SOLVANE_SANITIZE STREQUAL "thread")
  list(APPEND SOLVANE_TEST_ENVIRONMENT
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${SOLVANE_SANITIZER_DIR}/tsan.supp)
endif()

# solvane_add_tests(<target> SOURCES <files...> LIBS <libs...> [LABELS <labels...>])
# One test executable per folder; GoogleTest cases are registered with CTest one by one.
# Discovery runs when the tests run, so building never starts a test binary.
# The label "threads" marks an executable whose tests start threads (the worker pool, single
# workers, the platform's workers, row bands): the ThreadSanitizer run selects them by it, and the
# target "threaded_tests" builds just them.
function(solvane_add_tests target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(SOLVANE_SANITIZE)
    # Instrumented code runs several times slower, most of all the allocation-failure sweeps.
    math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 5")
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  # gtest_discover_tests flattens list-valued PROPERTIES (an ENVIRONMENT list would keep only its
  # first entry), so the test environment is applied through `env` in front of every test command.
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "env;${SOLVANE_TEST_ENVIRONMENT}")
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
  if("threads" IN_LIST ARG_LABELS)
    if(NOT TARGET threaded_tests)
      add_custom_target(threaded_tests)
    endif()
    add_dependencies(threaded_tests ${target})
  endif()
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

# solvane_folder_library(<target> [QT] [TYPE STATIC|SHARED|MODULE] [OUTPUT_NAME <name>]
#                        [EXCLUDE <files...>] [LIBS <libs...>] [TEST_LIBS <libs...>] [TEST_TIMEOUT <s>]
#                        [TEST_LABELS <labels...>])
# The folder's library is every *.c / *.cpp / *.ui / *.qrc directly in the folder except the
# *_test.cpp files and those in EXCLUDE; the *_test.cpp files make the folder's one test
# executable <target>_tests, linked against the library. New files join by being added: no
# CMakeLists edit is needed for them.
function(solvane_folder_library target)
  cmake_parse_arguments(ARG "QT" "TYPE;OUTPUT_NAME;TEST_TIMEOUT" "EXCLUDE;LIBS;TEST_LIBS;TEST_LABELS" ${ARGN})
  if(NOT ARG_TYPE)
    set(ARG_TYPE STATIC)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.c ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/*.ui ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(tests)
    list(REMOVE_ITEM sources ${tests})
  endif()
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(${target} ${ARG_TYPE} ${sources} ${headers})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME} PREFIX "")
  endif()
  if(NOT ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
  endif()
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  if(tests)
    solvane_add_tests(${target}_tests SOURCES ${tests} LIBS ${target} ${ARG_TEST_LIBS} TIMEOUT ${ARG_TEST_TIMEOUT}
      LABELS ${ARG_TEST_LABELS})
    if(TARGET ${target}_tests AND NOT ARG_QT)
      set_target_properties(${target}_tests PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    endif()
  endif()
endfunction()
