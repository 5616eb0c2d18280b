# Shared settings for every Quillore target.

function(quillore_setup_target target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(QUILLORE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(QUILLORE_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                                            -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# Adds every .cpp of a source folder to a target. Folders are units of the layering, so a new file
# in a folder belongs to that folder's target without editing a list.
function(quillore_glob_sources target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  target_sources(${target} PRIVATE ${sources})
endfunction()
