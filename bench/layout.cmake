# The layout stage lives in the service's library.
if(TARGET quillore_service)
  target_link_libraries(bench_${name} PRIVATE quillore_service)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
