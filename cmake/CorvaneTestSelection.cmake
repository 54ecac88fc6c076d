# Which tests a build folder holds, so that a tree built for some tests only (a sanitizer's)
# compiles nothing else:
#   CORVANE_TEST_LABELS       the labels whose test executables are built by default and
#                             registered with CTest: an executable with any one of them is
#                             (empty: every one)
#   CORVANE_TEST_SKIP_LABELS  labels whose executables are left out all the same
#   CORVANE_TESTS_ONLY        the default build holds only those test executables and what they
#                             link and run: no benchmark, module or application that none of
#                             them needs
# A test executable left out can still be built by name. A test that runs a program (the
# stand-in server, a probe, the application) names it with add_dependencies, so that a tree that
# builds only tests builds that program too.
set(CORVANE_TEST_LABELS "" CACHE STRING
    "Labels whose test executables are built and run (a list; empty: every test)")
set(CORVANE_TEST_SKIP_LABELS "" CACHE STRING
    "Labels whose test executables are left out (a list)")
option(CORVANE_TESTS_ONLY "Build by default only the selected tests and what they need" OFF)

# corvane_test_selected(<out> <label>...): whether a test executable with these labels is one
# of the selected.
function(corvane_test_selected out)
  set(selected FALSE)
  if(CORVANE_TEST_LABELS STREQUAL "")
    set(selected TRUE)
  endif()
  foreach(label IN LISTS ARGN)
    if(label IN_LIST CORVANE_TEST_LABELS)
      set(selected TRUE)
    endif()
  endforeach()
  foreach(label IN LISTS ARGN)
    if(label IN_LIST CORVANE_TEST_SKIP_LABELS)
      set(selected FALSE)
    endif()
  endforeach()
  set(${out} ${selected} PARENT_SCOPE)
endfunction()

# corvane_keep_in_default_build(<target>...): targets that stay in a CORVANE_TESTS_ONLY build.
function(corvane_keep_in_default_build)
  set_property(GLOBAL APPEND PROPERTY CORVANE_DEFAULT_BUILD ${ARGN})
endfunction()

function(_corvane_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    _corvane_targets_below(${subdirectory} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Called once every target exists: with CORVANE_TESTS_ONLY, takes every target but the kept
# ones out of the default build. What those link or depend on is still built with them.
function(corvane_limit_default_build)
  if(NOT CORVANE_TESTS_ONLY)
    return()
  endif()
  get_property(kept GLOBAL PROPERTY CORVANE_DEFAULT_BUILD)
  _corvane_targets_below(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY" AND NOT target IN_LIST kept)
      set_property(TARGET ${target} PROPERTY EXCLUDE_FROM_ALL TRUE)
    endif()
  endforeach()
endfunction()
