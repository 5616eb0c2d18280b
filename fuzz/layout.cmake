# The layout stage lives in the service's library.
target_link_libraries(fuzz_layout PRIVATE quillore_service)
