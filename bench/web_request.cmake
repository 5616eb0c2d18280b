# bench_web_request serves its own answers with the tests' local HTTPS server.
target_link_libraries(bench_${name} PRIVATE quillore_test_support)
