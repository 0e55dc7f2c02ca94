# What `cmake --install` puts under the prefix, by install component (each
# component becomes one Debian package, see SkarnPackage.cmake):
#   runtime  lib/libskarn.so.0 and .so.0.1.0
#            share/skarn/vexsktmsgs        the message catalogue
#   dev      lib/libskarn.so               the link-time name
#            include/skarn/skarn.h         every public class; a host writes <skarn/skarn.h>
#            include/skarn/<folder>/*.h    the public headers (SkarnPublicHeaders.cmake)
#            lib/cmake/Skarn/              find_package(Skarn): imported target Skarn::skarn
#            lib/pkgconfig/skarn.pc        pkg-config --cflags --libs skarn
#   tool     bin/skarn and share/man/man1/skarn.1.gz (from tools/, SkarnManPage.cmake)
# Each component also installs share/doc/<its package>/copyright.
include(CMakePackageConfigHelpers)

# The public headers (SkarnPublicHeaders.cmake says which) and skarn.h, which
# includes them all.
foreach(rel ${SKARN_PUBLIC_HEADERS})
  get_filename_component(dir ${rel} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${rel} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/skarn/${dir} COMPONENT dev)
endforeach()
install(FILES ${SKARN_UMBRELLA} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/skarn COMPONENT dev)

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
