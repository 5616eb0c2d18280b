# The picture-decoding benchmark: our decoder, and libjpeg to make its 24-megapixel test picture.
if(TARGET quillore_imaging)
  target_link_libraries(bench_${name} PRIVATE quillore_imaging JPEG::JPEG)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
