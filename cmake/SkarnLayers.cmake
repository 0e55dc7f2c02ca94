# skarn_layer(<target> <folder> <link libraries...>)
# A layer: every .cpp of <folder>, compiled once as position-independent
# objects (<target>_obj). The objects make the static library <target>, which
# the tests link, and go whole into libskarn.so. A folder without sources adds
# nothing, so a layer may be declared before its first source exists.
set(SKARN_LAYERS "" CACHE INTERNAL "")
set(SKARN_LAYER_OBJECTS "" CACHE INTERNAL "")
function(skarn_layer target dir)
  set(_src)
  foreach(d ${dir})
    file(GLOB _s CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND _src ${_s})
  endforeach()
  if(_src)
    add_library(${target}_obj OBJECT ${_src})
    target_include_directories(${target}_obj PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>)
    target_compile_definitions(${target}_obj PUBLIC SKARN_BUILDING_LIBRARY)
    target_link_libraries(${target}_obj PUBLIC ${ARGN})
    add_library(${target} STATIC $<TARGET_OBJECTS:${target}_obj>)
    target_link_libraries(${target} PUBLIC ${target}_obj)
    set(SKARN_LAYERS ${SKARN_LAYERS} ${target} CACHE INTERNAL "")
    set(SKARN_LAYER_OBJECTS ${SKARN_LAYER_OBJECTS} $<TARGET_OBJECTS:${target}_obj> CACHE INTERNAL "")
  endif()
endfunction()
