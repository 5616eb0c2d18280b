# bench_web_request serves its own answers with the tests' local HTTPS server.
if(TARGET quillore_test_support)
  target_link_libraries(bench_${name} PRIVATE quillore_test_support)
else()
  pkg_check_modules(QUILLORE_BENCH_MHD REQUIRED IMPORTED_TARGET libmicrohttpd)
  target_sources(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/https_server.cpp)
  target_link_libraries(bench_${name} PRIVATE PkgConfig::QUILLORE_BENCH_MHD OpenSSL::Crypto)
endif()
