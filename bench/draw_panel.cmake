# The draw panel benchmark runs the real widget on Qt's offscreen platform; it has its own main.
if(TARGET quillore_app)
  target_link_libraries(bench_${name} PRIVATE quillore_app)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
