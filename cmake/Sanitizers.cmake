# Native checking builds of the pure modules (clang only):
#   QB_SANITIZE  AddressSanitizer and UndefinedBehaviorSanitizer on every
#                target, any report fatal so a test run fails on it.
#   QB_FUZZ      also the libFuzzer targets of tests/fuzz; every library gets
#                coverage instrumentation for them.
option(QB_SANITIZE "Native build under AddressSanitizer and UndefinedBehaviorSanitizer (clang)" OFF)
option(QB_FUZZ "Native build with the libFuzzer targets of tests/fuzz (clang; implies QB_SANITIZE)" OFF)

if(QB_FUZZ)
  set(QB_SANITIZE ON)
endif()
if(NOT QB_SANITIZE)
  return()
endif()
if(QB_WINDOWS)
  message(FATAL_ERROR "QB_SANITIZE and QB_FUZZ are for the native build only")
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QB_SANITIZE and QB_FUZZ need clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()

set(QB_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(QB_FUZZ)
  list(APPEND QB_SANITIZER_FLAGS -fsanitize=fuzzer-no-link)
endif()
# Light optimisation with line tables: quick to build, readable reports.
add_compile_options(${QB_SANITIZER_FLAGS} -O1 -gline-tables-only)
add_link_options(-fsanitize=address,undefined)
