# What a Windows cross-build needs before the targets are made: Wine to run
# the test programs, and GoogleTest compiled for Windows from the sources that
# Debian ships (package googletest), since the build machine's GoogleTest
# libraries are Linux ones. Nothing is downloaded.

# palm_windows_program(TARGET): on Windows, embeds a manifest that makes UTF-8
# the program's code page, so that file names in its arguments, in a file
# list and in every open are the same bytes as on Linux (without it, Windows
# hands the program its arguments in a local code page). Does nothing on other
# systems. Applied to the programs and to the test programs.
function(palm_windows_program target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/palm_utf8.rc)
  endif()
endfunction()

if(WIN32)
  enable_language(RC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/utf8.rc.in ${PROJECT_BINARY_DIR}/palm_utf8.rc @ONLY)
endif()

if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
  return()
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(PALM_WINE wine)
  if(PALM_WINE)
    # Every test program and test case is started through cmake/wine-run, with
    # a Wine prefix of its own in the build folder.
    set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/cmake/wine-run;${PROJECT_BINARY_DIR}/wineprefix")
  else()
    message(WARNING "wine not found: the Windows tests can be built but not run")
  endif()
endif()

if(PALMPORT_TESTS AND NOT TARGET GTest::gtest)
  set(PALM_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross-build")
  if(NOT EXISTS ${PALM_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${PALM_GTEST_SOURCE_DIR} (install the googletest package)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${PALM_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The names that find_package(GTest) gives (GoogleTest's own build makes
  # most of them already).
  foreach(lib IN ITEMS gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
