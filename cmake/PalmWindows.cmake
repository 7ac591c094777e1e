# What a Windows cross-build needs before the targets are made: Wine to run
# the test programs, and GoogleTest compiled for Windows from the sources that
# Debian ships (package googletest), since the build machine's GoogleTest
# libraries are Linux ones. Nothing is downloaded.
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
