# The picture-decoding benchmark: our decoder, and the tests' JPEG writer for its 24-megapixel picture.
if(TARGET quillore_imaging)
  target_link_libraries(bench_${name} PRIVATE quillore_imaging quillore_test_support)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
