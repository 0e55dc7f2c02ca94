# cmake -DLIB=<libskarn.so> -DROOT=<source tree> -DLIST=<build>/public-headers.txt
#       -DUMBRELLA=<build>/include/skarn/skarn.h -P CheckInstalledHeaders.cmake
# A host can reach every name the library exports: for each exported class or
# function, the header of the tree that declares it exported (SKARN_EXPORT, or
# VEX_DECLARE_ERROR for an error class) is installed and <skarn/skarn.h>
# includes it. Instantiations of the standard library's templates are not ours.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND nm -D -C --defined-only ${LIB} OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/exports.txt
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
file(STRINGS ${CMAKE_CURRENT_BINARY_DIR}/exports.txt syms)
set(names)
foreach(line ${syms})
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" sym "${line}")
  string(REGEX REPLACE "^(typeinfo name for |typeinfo for |vtable for |VTT for |guard variable for |(non-)?virtual thunk to )"
         "" sym "${sym}")
  # The outermost name: a class (or a function) of the tree; "std", or a
  # return type followed by a blank, starts a template instantiation.
  string(REGEX MATCH "^([A-Za-z_][A-Za-z0-9_]*)(.?)" m "${sym}")
  set(name ${CMAKE_MATCH_1})
  set(after "${CMAKE_MATCH_2}")
  # A name followed by a blank, "*" or "&" is the return type of a function
  # template's instance ("char* std::__niter_base<...>", weak in a debug build).
  if(NOT name OR name MATCHES "^(std|__gnu_cxx)$" OR after MATCHES "^[ *&]$")
    continue()
  endif()
  list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(LENGTH names count)
if(count LESS 20)
  message(FATAL_ERROR "only ${count} exported names found in ${LIB}: ${names}")
endif()

file(STRINGS ${LIST} installed)
file(STRINGS ${UMBRELLA} umbrella REGEX "^#include \"")
set(declaring)
foreach(dir api bus http mime session net conn runtime platform)
  file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/${dir}/*.h)
  foreach(rel ${headers})
    file(STRINGS ${ROOT}/${rel} marked REGEX "SKARN_EXPORT|VEX_DECLARE_ERROR\\(" LIMIT_COUNT 1)
    if(marked)
      list(APPEND declaring ${rel})
      file(READ ${ROOT}/${rel} text_${rel})
    endif()
  endforeach()
endforeach()

set(wrong)
foreach(name ${names})
  set(where)
  foreach(rel ${declaring})
    if(text_${rel} MATCHES "(class|struct)[ \t]+SKARN_EXPORT[ \t]+${name}[^A-Za-z0-9_]"
       OR text_${rel} MATCHES "VEX_DECLARE_ERROR\\(${name}\\)"
       OR text_${rel} MATCHES "SKARN_EXPORT[^;{}]*[^A-Za-z0-9_]${name}\\(")
      list(APPEND where ${rel})
    endif()
  endforeach()
  if(NOT where)
    list(APPEND wrong "  ${name}: exported, but no header declares it with SKARN_EXPORT or VEX_DECLARE_ERROR")
  endif()
  foreach(rel ${where})
    if(NOT rel IN_LIST installed)
      list(APPEND wrong "  ${name}: declared in ${rel}, which is not installed")
    elseif(NOT "#include \"${rel}\"" IN_LIST umbrella)
      list(APPEND wrong "  ${name}: declared in ${rel}, which <skarn/skarn.h> does not include")
    endif()
  endforeach()
endforeach()
if(wrong)
  string(REPLACE ";" "\n" wrong "${wrong}")
  message(FATAL_ERROR "Exported names a host cannot reach:\n${wrong}")
endif()
message(STATUS "${count} exported names, each declared in an installed header that skarn.h includes")
