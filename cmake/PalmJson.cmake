# nlohmann/json, the header-only library that writes peek's --json output
# (package nlohmann-json3-dev), as the target nlohmann_json::nlohmann_json.
#
# A Windows cross-build looks for packages only in the mingw sysroot, where
# Debian has no copy. The library is headers alone, so the build machine's
# copy serves: its nlohmann folder is copied into the build folder and used
# from there. /usr/include itself never goes on a Windows include path, where
# glibc's headers would stand before mingw's.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
  find_package(nlohmann_json 3 REQUIRED)
  return()
endif()

if(NOT TARGET nlohmann_json::nlohmann_json)
  find_path(PALM_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp
    PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "The folder holding nlohmann/json.hpp on the build machine, for the cross-build")
  if(NOT PALM_NLOHMANN_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found in /usr/include (install the nlohmann-json3-dev package)")
  endif()
  file(COPY ${PALM_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann DESTINATION ${PROJECT_BINARY_DIR}/third_party)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${PROJECT_BINARY_DIR}/third_party)
endif()
