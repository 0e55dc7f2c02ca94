# The order of the virtual operations of every public class is part of the
# library's interface: hosts built against the headers call through those
# slots. This check lays out the vtable of each exported class (declared
# "class SKARN_EXPORT X" or "VEX_DECLARE_ERROR(X)") from the headers and
# compares it, entry by entry, with the blocks of ${TABLE}. A reordered
# header, a new or removed slot, a changed signature or overrider, and an
# exported class without a block all fail until the table is changed on purpose.
#
# The layout comes from clang's vtable dump, which names every slot with its
# full signature, pure ones included; gcc's class dump (-fdump-lang-class)
# gives names only (no signatures, "__cxa_pure_virtual" for pure slots), too
# little to see a changed signature. Both follow the same Itanium layout.
#
# usage: cmake -DSRC=<source dir> -DTABLE=<vtables.txt> -DCLANG=<clang++> -DWORK=<dir> -P VirtualSlots.cmake
cmake_policy(SET CMP0057 NEW)
if(NOT CLANG)
  message(FATAL_ERROR "clang++ is needed to lay out the public vtables")
endif()

# The exported classes and the headers that declare them.
file(GLOB_RECURSE headers RELATIVE ${SRC} ${SRC}/api/*.h ${SRC}/bus/*.h ${SRC}/http/*.h ${SRC}/mime/*.h
     ${SRC}/session/*.h ${SRC}/net/*.h ${SRC}/conn/*.h ${SRC}/runtime/*.h ${SRC}/platform/*.h)
set(classes)
set(unit "")
foreach(h ${headers})
  file(STRINGS ${SRC}/${h} decls REGEX "class SKARN_EXPORT [A-Za-z_0-9]+|^VEX_DECLARE_ERROR\\([A-Za-z_0-9]+\\)")
  if(decls)
    string(APPEND unit "#include \"${h}\"\n")
  endif()
  foreach(d ${decls})
    if(d MATCHES "\\\\$")
      continue()  # inside a macro definition
    endif()
    string(REGEX REPLACE ".*(class SKARN_EXPORT |VEX_DECLARE_ERROR\\()([A-Za-z_0-9]+).*" "\\2" name "${d}")
    list(APPEND classes ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES classes)
# Destroying through a pointer makes the compiler lay out each class's vtable.
foreach(c ${classes})
  string(APPEND unit "void skarnSlotProbe(${c}* p) { p->~${c}(); }\n")
endforeach()
file(WRITE ${WORK}/public_classes.cpp "${unit}")
execute_process(COMMAND ${CLANG} -std=c++17 -I${SRC} -Xclang -fdump-vtable-layouts -S -o /dev/null
                        ${WORK}/public_classes.cpp
                OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the public headers do not compile for the layout:\n${errors}")
endif()

# "Vtable for 'X' (n entries)." then indented "k | entry" lines until the
# next section; address marks dropped.
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(current "")
foreach(line ${lines})
  if(line MATCHES "^Vtable for '([A-Za-z_0-9]+)'")
    set(current ${CMAKE_MATCH_1})
    set(actual_${current} "")
  elseif(line MATCHES "^[^ ]")
    set(current "")  # another section ("VTable indices for ...", ...)
  elseif(current AND line MATCHES "^ *[0-9]+ \\| (.*)$")
    # The two entries in front of every primary vtable say nothing of the slots.
    if(NOT CMAKE_MATCH_1 STREQUAL "offset_to_top (0)" AND NOT CMAKE_MATCH_1 STREQUAL "${current} RTTI")
      string(APPEND actual_${current} "${CMAKE_MATCH_1}\n")
    endif()
  endif()
endforeach()

# The table: "[X]" opens the block of class X; "#" lines are comments.
file(STRINGS ${TABLE} table)
set(current "")
set(listed)
foreach(line ${table})
  if(line MATCHES "^\\[([A-Za-z_0-9]+)\\]$")
    set(current ${CMAKE_MATCH_1})
    list(APPEND listed ${current})
    set(expected_${current} "")
  elseif(current AND NOT line MATCHES "^#" AND NOT line STREQUAL "")
    string(APPEND expected_${current} "${line}\n")
  endif()
endforeach()

set(problems "")
set(layouts "")
foreach(c ${classes})
  if(NOT DEFINED actual_${c})
    continue()  # no virtual operations
  endif()
  string(APPEND layouts "[${c}]\n${actual_${c}}\n")
  if(NOT c IN_LIST listed)
    string(APPEND problems "  ${c}: exported with virtual operations, but has no block\n")
  elseif(NOT actual_${c} STREQUAL expected_${c})
    string(APPEND problems "  ${c}: the slots differ from its block\n")
  endif()
endforeach()
foreach(c ${listed})
  if(NOT DEFINED actual_${c})
    string(APPEND problems "  ${c}: has a block, but is no exported class with virtual operations\n")
  endif()
endforeach()
# Every layout as the headers give it, in the table's format, for comparing or copying.
file(WRITE ${WORK}/vtables.actual.txt "${layouts}")
if(problems)
  message(FATAL_ERROR "public vtables differ from ${TABLE}:\n${problems}"
                      "The layouts of the headers are in ${WORK}/vtables.actual.txt")
endif()
message(STATUS "public vtables as in the table")
