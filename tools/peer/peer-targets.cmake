# Targets of the peer itself; included by tools/peer/CMakeLists.txt with
# QB_PEER_OUT naming the output directory.
find_package(OpenSSL REQUIRED)
find_package(Threads REQUIRED)
# Debian's cpp-httplib is a compiled library; use the same feature macros it
# was built with so both sides agree on its classes.
find_library(QB_HTTPLIB_LIB NAMES cpp-httplib REQUIRED)

set(QB_PEER_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(qb_peer_core STATIC
  ${QB_PEER_DIR}/src/wire_checks.cpp
  ${QB_PEER_DIR}/src/peer_config.cpp
  ${QB_PEER_DIR}/src/peer_store.cpp
  ${QB_PEER_DIR}/src/fault_script.cpp
  ${QB_PEER_DIR}/src/journal_service.cpp
  ${QB_PEER_DIR}/src/peer_server.cpp)
target_include_directories(qb_peer_core PUBLIC ${QB_PEER_DIR}/src)
target_compile_definitions(qb_peer_core PUBLIC CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT CPPHTTPLIB_BROTLI_SUPPORT)
target_link_libraries(qb_peer_core PUBLIC ${QB_HTTPLIB_LIB} OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
target_compile_options(qb_peer_core PRIVATE -Wall -Wextra -Wno-unused-parameter)

add_executable(qb_peer ${QB_PEER_DIR}/src/main.cpp)
target_link_libraries(qb_peer PRIVATE qb_peer_core)
set_target_properties(qb_peer PROPERTIES OUTPUT_NAME qb-peer RUNTIME_OUTPUT_DIRECTORY ${QB_PEER_OUT})

# Test certificates are made at build time, never committed.
set(QB_PEER_CERTS ${QB_PEER_OUT}/certs)
add_custom_command(
  OUTPUT ${QB_PEER_CERTS}/ca.pem ${QB_PEER_CERTS}/server.pem ${QB_PEER_CERTS}/server.key
  COMMAND bash ${QB_PEER_DIR}/make-test-certs.sh ${QB_PEER_CERTS}
  DEPENDS ${QB_PEER_DIR}/make-test-certs.sh
  COMMENT "Making the peer's test certificates")
add_custom_target(qb_peer_certs ALL DEPENDS ${QB_PEER_CERTS}/ca.pem)
add_dependencies(qb_peer qb_peer_certs)

add_executable(qb_peer_test ${QB_PEER_DIR}/test/peer_test.cpp)
target_link_libraries(qb_peer_test PRIVATE qb_peer_core gtest_main)
target_compile_definitions(qb_peer_test PRIVATE
  QB_PEER_BINARY="$<TARGET_FILE:qb_peer>"
  QB_PEER_CERTS="${QB_PEER_CERTS}"
  QB_PEER_SCRATCH="${QB_PEER_OUT}/test-state")
set_target_properties(qb_peer_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QB_PEER_OUT})
add_dependencies(qb_peer_test qb_peer qb_peer_certs)
