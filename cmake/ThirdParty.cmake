# nlohmann-json from Debian's package, copied into a private include directory
# so the cross build never sees /usr/include.
set(QB_THIRD_PARTY_INCLUDE "${CMAKE_BINARY_DIR}/third_party/include")
if(NOT EXISTS "${QB_THIRD_PARTY_INCLUDE}/nlohmann/json.hpp")
  if(NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann-json3-dev is not installed (scripts/setup-deps installs it)")
  endif()
  file(COPY /usr/include/nlohmann DESTINATION "${QB_THIRD_PARTY_INCLUDE}")
endif()
add_library(qb_json INTERFACE)
target_include_directories(qb_json SYSTEM INTERFACE "${QB_THIRD_PARTY_INCLUDE}")
target_compile_definitions(qb_json INTERFACE JSON_USE_IMPLICIT_CONVERSIONS=0)

# GoogleTest built from Debian's sources for whichever target we build.
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()

set(QB_LICENSE_FILE "${CMAKE_SOURCE_DIR}/third_party/nlohmann-json-LICENSE.MIT")
