# The service benchmark renders its pictures with Qt and drives the service library in-process.
if(TARGET quillore_service AND TARGET Qt6::Gui)
  find_package(nlohmann_json 3 REQUIRED)
  target_sources(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/service/picture_maker.cpp
                                       ${PROJECT_SOURCE_DIR}/tests/service/https_client.cpp)
  target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/service)
  target_link_libraries(bench_${name} PRIVATE quillore_service Qt6::Gui CURL::libcurl nlohmann_json::nlohmann_json)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
