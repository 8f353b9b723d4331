# Windows executables run under wine64 with a private prefix inside the build tree.
find_program(QB_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/bin NO_DEFAULT_PATH)
if(NOT QB_WINE64)
  message(FATAL_ERROR "wine64 not found (scripts/setup-deps installs it)")
endif()
find_program(QB_WINESERVER NAMES wineserver PATHS /usr/lib/wine /usr/bin NO_DEFAULT_PATH)
set(QB_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
