# Build settings shared by every target of the project.

# Warnings are errors everywhere. Linked PRIVATE by each project target so the
# flags never leak to consumers outside the project.
add_library(quorvex_options INTERFACE)
target_compile_options(quorvex_options INTERFACE -Wall -Wextra -Wpedantic -Werror)
target_include_directories(quorvex_options INTERFACE ${PROJECT_SOURCE_DIR})

# Environment of the tests registered by hand (the end-to-end script):
# headless Qt, and in the sanitizer build the leak suppressions for system
# libraries.
set(QUORVEX_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
if(QUORVEX_SANITIZE)
  # Applied to the whole tree so that every object, test and tool is checked.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  list(APPEND QUORVEX_TEST_ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
endif()

# quorvex_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
# One GoogleTest executable, its cases registered with CTest one by one.
# Widget tests run headless on Qt's offscreen platform.
function(quorvex_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE quorvex_options GTest::gtest GTest::gmock ${ARG_LIBS})
  # Test discovery flattens a property list, so the cases get the one
  # variable they need here; tools/test.sh exports the sanitizer settings.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
