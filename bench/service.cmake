# The service benchmark drives the service library in-process and posts to it over HTTPS.
if(TARGET quillore_bench_support)
  find_package(nlohmann_json 3 REQUIRED)
  target_link_libraries(bench_${name} PRIVATE nlohmann_json::nlohmann_json)
endif()
