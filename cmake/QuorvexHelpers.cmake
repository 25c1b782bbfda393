# SPDX-License-Identifier: GPL-3.0-or-later
# Build settings shared by every target of the project.

# Warnings are reported everywhere and are errors where asked for: the
# project's own test script and CI turn QUORVEX_WERROR on, a user's or a
# packager's build with another compiler is not broken by a new warning.
# Linked PRIVATE by each project target so the flags never leak to consumers
# outside the project.
option(QUORVEX_WERROR "Treat compiler warnings as errors" OFF)
add_library(quorvex_options INTERFACE)
target_compile_options(quorvex_options INTERFACE -Wall -Wextra -Wpedantic)
if(QUORVEX_WERROR)
  target_compile_options(quorvex_options INTERFACE -Werror)
endif()

# The hardening a distribution builds its programs with: stack protection,
# checked string and memory functions, and relocations made read-only before
# the program runs (PIE is the compiler's default). The checks need
# optimisation, so a Debug build goes without them, as does a sanitizer
# build, whose own checks they would hide; flags a packager passes in win.
option(QUORVEX_HARDENING "Build with the distribution's hardening flags" ON)
if(QUORVEX_HARDENING)
  target_compile_options(quorvex_options INTERFACE -fstack-protector-strong)
  if(NOT QUORVEX_SANITIZE AND NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
    target_compile_options(quorvex_options INTERFACE
      "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  target_link_options(quorvex_options INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()

# quorvex_headers(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>)
# Puts one source folder, and nothing else of the tree, on the target's
# include path, keeping the "folder/header.h" spelling: the build tree gets a
# directory holding just a link named after the folder. A library exports its
# own folder only, so a target reaches another layer's headers only by
# linking that layer; including ui/ from output/ fails to compile.
function(quorvex_headers target scope folder)
  string(MAKE_C_IDENTIFIER "${folder}" id)
  set(root ${PROJECT_BINARY_DIR}/include/${id})
  set(link ${root}/${folder})
  if(NOT IS_SYMLINK ${link})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

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
# Widget tests run headless on Qt's offscreen platform. The test folder's own
# helpers are reachable as "tests/<folder>/header.h".
function(quorvex_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE quorvex_options GTest::gtest GTest::gmock ${ARG_LIBS})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  quorvex_headers(${name} PRIVATE ${folder})
  # Test discovery flattens a property list, so the cases get the one
  # variable they need here; tools/test.sh exports the sanitizer settings.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# quorvex_man_page(<target> <summary> <include file>)
# The program's manual page: help2man makes the options from its own --help
# and --version, so the page lists what the program takes; the include file
# adds the sections --help does not hold. Dated by the release, compressed and
# installed in section 1.
function(quorvex_man_page target summary include)
  set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
  quorvex_release_epoch(epoch)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    # No display is needed for the help text; the sanitizer build's leak
    # report of a help run is not the manual's business.
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 SOURCE_DATE_EPOCH=${epoch}
            ${HELP2MAN} --no-info --section=1 --name=${summary} --include=${include} --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} ${include}
    COMMENT "Writing the manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
