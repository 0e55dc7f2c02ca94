# skarn_layer(<target> <folder> <links...>)
# A layer: every .cpp of <folder>, compiled once as position-independent
# objects (<target>_obj). The objects make the static library <target>, which
# the tests link, and go whole into libskarn.so.
#
# <links> are the layers right below this one (declared before it) and the
# outside libraries it uses. The layer's code may include the headers of its
# own folder and of the folders of every layer below it, directly or not;
# an include of any other folder of the tree fails the build
# (SkarnLayerCheck.cmake runs before the layer's objects are compiled).
#
# A folder without sources adds nothing, so a layer may be declared before its
# first source exists: the layers above it then link what it would have linked.
set(SKARN_LAYERS "" CACHE INTERNAL "")
set(SKARN_LAYER_OBJECTS "" CACHE INTERNAL "")
function(skarn_layer target dir)
  set(folders ${dir})  # what this layer may include
  set(links)           # what it links: targets of the layers below, outside libraries
  foreach(l ${ARGN})
    get_property(below GLOBAL PROPERTY SKARN_LAYER_FOLDERS_${l} SET)
    if(below)
      get_property(f GLOBAL PROPERTY SKARN_LAYER_FOLDERS_${l})
      get_property(k GLOBAL PROPERTY SKARN_LAYER_LINKS_${l})
      list(APPEND folders ${f})
      list(APPEND links ${k})
    else()
      list(APPEND links ${l})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  list(REMOVE_DUPLICATES links)
  set_property(GLOBAL PROPERTY SKARN_LAYER_FOLDERS_${target} ${folders})

  file(GLOB src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
  if(NOT src)
    set_property(GLOBAL PROPERTY SKARN_LAYER_LINKS_${target} ${links})
    return()
  endif()
  set_property(GLOBAL PROPERTY SKARN_LAYER_LINKS_${target} ${target})

  # The floor check, again whenever a file of the folder changes.
  string(REPLACE ";" "," allowed "${folders}")
  set(checked ${CMAKE_BINARY_DIR}/layers/${target}.checked)
  add_custom_command(OUTPUT ${checked}
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DLAYER=${target} -DFOLDER=${dir}
            -DALLOWED=${allowed} -DCHECKED=${checked} -P ${CMAKE_SOURCE_DIR}/cmake/SkarnLayerCheck.cmake
    DEPENDS ${src} ${headers} ${CMAKE_SOURCE_DIR}/cmake/SkarnLayerCheck.cmake
    COMMENT "Checking that ${dir}/ includes nothing above its floor"
    VERBATIM)
  add_custom_target(${target}_floor DEPENDS ${checked})

  add_library(${target}_obj OBJECT ${src})
  add_dependencies(${target}_obj ${target}_floor)
  target_include_directories(${target}_obj PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>)
  target_compile_definitions(${target}_obj PUBLIC SKARN_BUILDING_LIBRARY)
  target_link_libraries(${target}_obj PUBLIC ${links})
  add_library(${target} STATIC $<TARGET_OBJECTS:${target}_obj>)
  target_link_libraries(${target} PUBLIC ${target}_obj)
  set(SKARN_LAYERS ${SKARN_LAYERS} ${target} CACHE INTERNAL "")
  set(SKARN_LAYER_OBJECTS ${SKARN_LAYER_OBJECTS} $<TARGET_OBJECTS:${target}_obj> CACHE INTERNAL "")
endfunction()
