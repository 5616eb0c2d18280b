# The PP-OCR benchmark draws its pictures with Qt and compares the engine with Tesseract: the service's
# engine when the service library is built, and the tesseract command.
if(TARGET quillore_ppocr AND TARGET Qt6::Gui)
  target_sources(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/ppocr/rendering.cpp)
  target_link_libraries(bench_${name} PRIVATE quillore_ppocr Qt6::Gui)
  target_compile_definitions(bench_${name} PRIVATE QUILLORE_BENCH_PPOCR)
  if(TARGET quillore_service)
    target_link_libraries(bench_${name} PRIVATE quillore_service)
    target_compile_definitions(bench_${name} PRIVATE QUILLORE_BENCH_WITH_SERVICE)
  endif()
endif() # otherwise the program only says what it lacks
