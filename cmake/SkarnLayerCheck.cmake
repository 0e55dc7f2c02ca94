# cmake -DROOT=<source tree> -DLAYER=<target> -DFOLDER=<folder> -DALLOWED=<folder,folder,...>
#       [-DPUBLIC=<list of the installed headers>] -DCHECKED=<stamp file> -P SkarnLayerCheck.cmake
# Fails when a .cpp or .h of FOLDER includes a header of the tree that lies in
# none of the ALLOWED folders (its own and those of the layers below it).
# With PUBLIC (a host program of the tree, such as the tool), a header outside
# the ALLOWED folders passes only when it is installed: listed in that file,
# one path relative to the tree per line (SkarnPublicHeaders.cmake writes it).
# An include is found as the compiler finds it: "name" beside the including
# file first, then from the root of the tree; <skarn/name> and <name> from the
# root. Includes that reach no file of the tree (system headers) are not ours.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" allowed "${ALLOWED}")
file(GLOB files ${ROOT}/${FOLDER}/*.cpp ${ROOT}/${FOLDER}/*.h)
file(REAL_PATH ${ROOT} ROOT)
set(public)
if(PUBLIC)
  file(STRINGS ${PUBLIC} public)
endif()
set(wrong)
foreach(file ${files})
  get_filename_component(here ${file} DIRECTORY)
  file(RELATIVE_PATH shown ${ROOT} ${file})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"].*" "\\1;\\2" parts "${line}")
    list(GET parts 0 quote)
    list(GET parts 1 name)
    string(REGEX REPLACE "^skarn/" "" fromRoot "${name}")
    set(found)
    if(quote STREQUAL "\"" AND EXISTS ${here}/${name})
      set(found ${here}/${name})
    elseif(EXISTS ${ROOT}/${fromRoot})
      set(found ${ROOT}/${fromRoot})
    endif()
    if(NOT found)
      continue()
    endif()
    get_filename_component(found ${found} REALPATH)
    file(RELATIVE_PATH rel ${ROOT} ${found})
    get_filename_component(folder ${rel} DIRECTORY)
    if(PUBLIC AND NOT folder IN_LIST allowed AND NOT rel IN_LIST public)
      string(STRIP "${line}" line)
      list(APPEND wrong "  ${shown}: ${line}  (${rel})")
    elseif(NOT PUBLIC AND NOT folder IN_LIST allowed)
      string(STRIP "${line}" line)
      list(APPEND wrong "  ${shown}: ${line}  (${folder}/)")
    endif()
  endforeach()
endforeach()
if(wrong AND PUBLIC)
  string(REPLACE ";" "\n" wrong "${wrong}")
  message(FATAL_ERROR "${LAYER}: ${FOLDER}/ includes a header that is not installed:\n${wrong}\n"
                      "${FOLDER}/ may include its own headers and the installed ones, as a host "
                      "would (<skarn/skarn.h>, <skarn/<folder>/...>; the list: ${PUBLIC})")
elseif(wrong)
  string(REPLACE ";" "\n" wrong "${wrong}")
  string(REPLACE ";" " " below "${allowed}")
  message(FATAL_ERROR "${LAYER}: ${FOLDER}/ includes a header above its floor:\n${wrong}\n"
                      "${FOLDER}/ may include only from: ${below}")
endif()
get_filename_component(stampDir ${CHECKED} DIRECTORY)
file(MAKE_DIRECTORY ${stampDir})
file(TOUCH ${CHECKED})
