# The layering made a build rule. A layer is a source folder X with its library (quillore_X unless
# registered with another name); its code may use only the layers its library links (directly or
# through another layer). Two checks hold a layer to that, both part of the build:
# - its #include lines: a header of a project folder Y needs Y's library among the libraries it links;
# - its link: every object of its archive is linked, with only the libraries it links, into a small
#   program, so a call into a layer above it is an undefined reference. (With static libraries such a
#   call would otherwise resolve silently in the final program, which links everything.)

# A core layer: the library quillore_<layer> of every <layer>/*.cpp, linking what follows LINK (the
# usual PUBLIC/PRIVATE form), checked as above.
function(quillore_layer layer)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  add_library(quillore_${layer} STATIC)
  quillore_setup_target(quillore_${layer})
  quillore_glob_sources(quillore_${layer} ${layer})
  target_include_directories(quillore_${layer} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_LINK)
    target_link_libraries(quillore_${layer} ${ARG_LINK})
  endif()
  quillore_register_layer(${layer})
endfunction()

# Puts an existing library built from <layer>/ under the checks: quillore_<layer>, or the TARGET given.
function(quillore_register_layer layer)
  cmake_parse_arguments(ARG "" "TARGET" "" ${ARGN})
  if(NOT ARG_TARGET)
    set(ARG_TARGET quillore_${layer})
  endif()
  set_property(GLOBAL APPEND PROPERTY QUILLORE_LAYERS ${layer})
  set_property(GLOBAL PROPERTY QUILLORE_LAYER_TARGET_${layer} ${ARG_TARGET})
  set_property(GLOBAL PROPERTY QUILLORE_LAYER_FOLDER_${ARG_TARGET} ${layer})
endfunction()

# The quillore_* libraries `target` links, directly or through others, itself excluded.
function(quillore_link_closure target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(NOT TARGET ${current} OR current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(direct ${current} LINK_LIBRARIES)
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    foreach(item IN LISTS direct interface)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(item MATCHES "^quillore_[A-Za-z0-9_]+$")
        list(APPEND queue ${item})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen ${target})
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Sets up both checks for every registered layer. Call once, after every library is defined.
function(quillore_check_layers)
  get_property(layers GLOBAL PROPERTY QUILLORE_LAYERS)
  set(checkMain ${PROJECT_BINARY_DIR}/layer_checks/main.cpp)
  file(CONFIGURE OUTPUT ${checkMain} CONTENT "int main() { return 0; }\n")
  foreach(layer IN LISTS layers)
    get_property(target GLOBAL PROPERTY QUILLORE_LAYER_TARGET_${layer})
    if(NOT TARGET ${target})
      continue()
    endif()
    # The folders of the libraries it links: a registered layer's own, else quillore_<folder>.
    quillore_link_closure(${target} linked)
    set(allowed ${layer})
    foreach(library IN LISTS linked)
      get_property(folder GLOBAL PROPERTY QUILLORE_LAYER_FOLDER_${library})
      if(NOT folder)
        string(REGEX REPLACE "^quillore_" "" folder ${library})
      endif()
      list(APPEND allowed ${folder})
    endforeach()
    list(JOIN allowed "," allowedText)

    # The includes, scanned whenever a file of the folder changes; the library waits for the scan.
    file(GLOB files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${layer}/*.h ${PROJECT_SOURCE_DIR}/${layer}/*.cpp)
    set(stamp ${PROJECT_BINARY_DIR}/layer_checks/${layer}.includes)
    add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DFOLDER=${layer} -DALLOWED=${allowedText}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake
      COMMENT "Checking the includes of ${layer}/"
      VERBATIM)
    add_custom_target(quillore_${layer}_includes DEPENDS ${stamp})
    add_dependencies(${target} quillore_${layer}_includes)

    # The link: the whole archive into a program with nothing but what the layer links.
    if(CMAKE_VERSION VERSION_LESS 3.24)
      continue() # no WHOLE_ARCHIVE link feature before CMake 3.24; the include check still holds
    endif()
    add_executable(quillore_${layer}_link_check ${checkMain})
    target_link_libraries(quillore_${layer}_link_check
                          PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>")
    set_target_properties(quillore_${layer}_link_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                                  ${PROJECT_BINARY_DIR}/layer_checks)
  endforeach()
endfunction()
