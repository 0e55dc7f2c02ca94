# What `cmake --install` puts under the prefix, by install component (each
# component becomes one Debian package, see SkarnPackage.cmake):
#   runtime  lib/libskarn.so.0 and .so.0.1.0
#            share/skarn/vexsktmsgs        the message catalogue
#   dev      lib/libskarn.so               the link-time name
#            include/skarn/<folder>/*.h    the public headers; a host writes <skarn/api/Skarn.h>
#            lib/cmake/Skarn/              find_package(Skarn): imported target Skarn::skarn
#            lib/pkgconfig/skarn.pc        pkg-config --cflags --libs skarn
#   tool     bin/skarn and share/man/man1/skarn.1.gz (from tools/, SkarnManPage.cmake)
# Each component also installs share/doc/<its package>/copyright.
include(CMakePackageConfigHelpers)

# The public headers: those that declare something exported (SKARN_EXPORT) and
# every header they include. They include each other by paths relative to
# themselves, so one file serves from the source tree and from include/skarn.
function(skarn_public_headers out)
  set(todo)
  foreach(dir api bus http mime session net conn runtime platform)
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    foreach(h ${headers})
      file(STRINGS ${h} exported REGEX "SKARN_EXPORT" LIMIT_COUNT 1)
      if(exported)
        list(APPEND todo ${h})
      endif()
    endforeach()
  endforeach()
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
        file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${h})
        message(FATAL_ERROR "${rel} includes \"${name}\": a public header names the headers it "
                            "includes relative to its own folder")
      endif()
      list(APPEND todo ${path})
    endforeach()
  endwhile()
  list(SORT found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

skarn_public_headers(SKARN_PUBLIC_HEADERS)
foreach(h ${SKARN_PUBLIC_HEADERS})
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${h})
  get_filename_component(dir ${rel} DIRECTORY)
  install(FILES ${h} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/skarn/${dir} COMPONENT dev)
endforeach()

install(TARGETS skarn EXPORT SkarnTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES api/vexsktmsgs DESTINATION ${CMAKE_INSTALL_DATADIR}/skarn COMPONENT runtime)

install(EXPORT SkarnTargets NAMESPACE Skarn:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn
  COMPONENT dev)
configure_package_config_file(cmake/SkarnConfig.cmake.in ${CMAKE_BINARY_DIR}/SkarnConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SkarnConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SkarnConfig.cmake ${CMAKE_BINARY_DIR}/SkarnConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn COMPONENT dev)

# skarn.pc finds the prefix from its own place, so that the same file serves
# a temporary prefix and the Debian package.
file(RELATIVE_PATH SKARN_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" SKARN_PC_TO_PREFIX "${SKARN_PC_TO_PREFIX}")
configure_file(cmake/skarn.pc.in ${CMAKE_BINARY_DIR}/skarn.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/skarn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
