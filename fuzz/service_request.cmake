# The service's logic and the JSON library the target checks replies with.
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(fuzz_service_request PRIVATE quillore_service nlohmann_json::nlohmann_json)
