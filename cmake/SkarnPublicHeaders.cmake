# The public surface: the headers that `cmake --install` puts under
# include/skarn, and <skarn/skarn.h>, the one header that includes them all.
#
# A header is public when it declares something libskarn.so exports (a
# SKARN_EXPORT class or function, or an error class of VEX_DECLARE_ERROR, which
# is exported too), and so is every header that a public header includes: its
# declarations need it. Public headers include each other by paths relative to
# themselves, so one file serves from the source tree and from include/skarn.
#
# Configuring (include()): skarn_public_surface() lists them in
# <build>/public-headers.txt, writes <build>/include/skarn/skarn.h and links
# each public header into <build>/include/skarn/<folder>/, so that a program of
# this tree that includes <skarn/...> sees the installed layout and nothing else.
#
# Building (cmake -DROOT=<tree> -DLIST=<build>/public-headers.txt
#   -DCHECKED=<stamp> -P SkarnPublicHeaders.cmake): fails when the public
# headers are no longer those listed (a header gained or lost an export, or
# an include), and touches the list so that the next build configures again.
cmake_minimum_required(VERSION 3.25)

set(SKARN_PUBLIC_FOLDERS api bus http mime session net conn runtime platform)

# skarn_public_headers(<tree> <out>): the public headers, relative to <tree>, sorted.
# <out>_DECLARING: those that declare something exported themselves.
function(skarn_public_headers root out)
  set(todo)
  foreach(dir ${SKARN_PUBLIC_FOLDERS})
    file(GLOB_RECURSE headers ${root}/${dir}/*.h)
    foreach(h ${headers})
      file(STRINGS ${h} exported REGEX "SKARN_EXPORT|VEX_DECLARE_ERROR\\(" LIMIT_COUNT 1)
      if(exported)
        list(APPEND todo ${h})
      endif()
    endforeach()
  endforeach()
  set(declaring ${todo})
  set(found)
  while(todo)
    list(POP_FRONT todo h)
    if(h IN_LIST found)
      continue()
    endif()
    list(APPEND found ${h})
    get_filename_component(here ${h} DIRECTORY)
    file(STRINGS ${h} includes REGEX "^#include \"")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" name "${line}")
      get_filename_component(path ${name} ABSOLUTE BASE_DIR ${here})
      if(NOT EXISTS ${path})
        file(RELATIVE_PATH rel ${root} ${h})
        message(FATAL_ERROR "${rel} includes \"${name}\": a public header names the headers it "
                            "includes relative to its own folder")
      endif()
      list(APPEND todo ${path})
    endforeach()
  endwhile()
  foreach(list found declaring)
    set(rels)
    foreach(h ${${list}})
      file(RELATIVE_PATH rel ${root} ${h})
      list(APPEND rels ${rel})
    endforeach()
    list(SORT rels)
    set(${list} ${rels})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
  set(${out}_DECLARING ${declaring} PARENT_SCOPE)
endfunction()

# Sets SKARN_PUBLIC_HEADERS (relative to the source tree), SKARN_PUBLIC_LIST
# (the file listing them) and SKARN_UMBRELLA (the generated skarn.h), and adds
# the target skarn_public_surface, which fails the build when they are stale.
function(skarn_public_surface)
  skarn_public_headers(${CMAKE_SOURCE_DIR} public)
  set(list ${CMAKE_BINARY_DIR}/public-headers.txt)
  string(REPLACE ";" "\n" lines "${public}")
  file(CONFIGURE OUTPUT ${list} CONTENT "${lines}\n" @ONLY)
  # The check below touches the list when it is stale: the next build configures again.
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})

  set(umbrella "// Every public class of Skarn: a host may include this header alone.\n")
  string(APPEND umbrella "// Made by the build from the headers that declare what libskarn.so exports\n")
  string(APPEND umbrella "// (cmake/SkarnPublicHeaders.cmake).\n#ifndef SKARN_SKARN_H\n#define SKARN_SKARN_H\n\n")
  foreach(h ${public_DECLARING})
    string(APPEND umbrella "#include \"${h}\"\n")
  endforeach()
  string(APPEND umbrella "\n#endif\n")
  set(mirror ${CMAKE_BINARY_DIR}/include/skarn)
  file(CONFIGURE OUTPUT ${mirror}/skarn.h CONTENT "${umbrella}" @ONLY)

  # The installed layout in the build tree: one link per public header. Links
  # of headers no longer public, and the folder links of older build trees
  # (which showed every header), go first.
  foreach(dir ${SKARN_PUBLIC_FOLDERS})
    if(IS_SYMLINK ${mirror}/${dir})
      file(REMOVE ${mirror}/${dir})
    endif()
  endforeach()
  file(GLOB_RECURSE links LIST_DIRECTORIES false RELATIVE ${mirror} ${mirror}/*.h)
  foreach(rel ${links})
    if(NOT rel IN_LIST public AND NOT rel STREQUAL "skarn.h")
      file(REMOVE ${mirror}/${rel})
    endif()
  endforeach()
  file(GLOB_RECURSE dirs LIST_DIRECTORIES true ${mirror}/*)
  list(SORT dirs ORDER DESCENDING)  # a folder after those inside it
  foreach(dir ${dirs})
    file(GLOB inside ${dir}/*)
    if(IS_DIRECTORY ${dir} AND NOT IS_SYMLINK ${dir} AND NOT inside)
      file(REMOVE_RECURSE ${dir})
    endif()
  endforeach()
  foreach(rel ${public})
    set(target)
    if(IS_SYMLINK ${mirror}/${rel})
      file(READ_SYMLINK ${mirror}/${rel} target)
    endif()
    if(NOT target STREQUAL "${CMAKE_SOURCE_DIR}/${rel}")
      get_filename_component(dir ${mirror}/${rel} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(REMOVE ${mirror}/${rel})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${rel} ${mirror}/${rel} SYMBOLIC)
    endif()
  endforeach()

  set(watched)
  foreach(dir ${SKARN_PUBLIC_FOLDERS})
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    list(APPEND watched ${headers})
  endforeach()
  set(checked ${CMAKE_BINARY_DIR}/public-headers.checked)
  add_custom_command(OUTPUT ${checked}
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DLIST=${list} -DCHECKED=${checked}
            -P ${CMAKE_SOURCE_DIR}/cmake/SkarnPublicHeaders.cmake
    DEPENDS ${watched} ${CMAKE_SOURCE_DIR}/cmake/SkarnPublicHeaders.cmake
    COMMENT "Checking that the public headers are still those configured"
    VERBATIM)
  add_custom_target(skarn_public_surface DEPENDS ${checked})

  set(SKARN_PUBLIC_HEADERS ${public} PARENT_SCOPE)
  set(SKARN_PUBLIC_LIST ${list} PARENT_SCOPE)
  set(SKARN_UMBRELLA ${mirror}/skarn.h PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  skarn_public_headers(${ROOT} now)
  file(STRINGS ${LIST} configured)
  set(gained ${now})
  list(REMOVE_ITEM gained ${configured})
  set(lost ${configured})
  list(REMOVE_ITEM lost ${now})
  if(gained OR lost)
    file(TOUCH ${LIST})
    string(REPLACE ";" " " gained "${gained}")
    string(REPLACE ";" " " lost "${lost}")
    message(FATAL_ERROR "The public headers changed since cmake ran:\n"
                        "  now public: ${gained}\n  no longer public: ${lost}\n"
                        "Build again: cmake configures again, so that the install, <skarn/skarn.h> "
                        "and the tool's include check follow.")
  endif()
  file(TOUCH ${CHECKED})
endif()
