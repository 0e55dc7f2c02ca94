# `cpack -G DEB` in the build folder: one Debian package per install component
# (see SkarnInstall.cmake), named as Debian names a library's packages:
#   libskarn0     runtime  libskarn.so.0 and the message catalogue; Depends on
#                          the C and C++ runtimes, libssl3 and libxerces-c3.2
#   libskarn-dev  dev      headers, libskarn.so, skarn.pc, the CMake package;
#                          Depends on libskarn0 of the same version and on what
#                          a host's build needs besides: libxerces-c-dev (the
#                          DOM headers include Xerces-C's, skarn.pc and
#                          SkarnConfig.cmake ask for it) and libssl-dev
#                          (skarn.pc's Requires.private names openssl)
#   skarn         tool     the skarn tool and its man page; Depends on libskarn0
#                          of the same version
# Each holds usr/share/doc/<package>/copyright.
set(CPACK_PACKAGE_NAME skarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Skarn developers")
set(CPACK_PACKAGE_CONTACT "Skarn developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SOAP messaging toolkit: envelopes with MIME attachments over HTTP, plain TCP or TLS")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree: the library shrinks from 11 MB to 0.6.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET skarn_tool)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Skarn developers")
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})

set(SKARN_RUNTIME_PACKAGE libskarn0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${SKARN_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# What libskarn.so.0 loads (its NEEDED entries); package-check.sh compares the two.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libssl3, libxerces-c3.2")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "SOAP messaging toolkit: shared library
 libskarn.so.0 exchanges SOAP envelopes with MIME multipart attachments over
 HTTP/1.0 and HTTP/1.1, plain TCP or TLS, for client and server processes.
 This package holds the shared library and its message catalogue.")
# A shlibs file for libskarn.so.0 (only libskarn0 holds a shared object), and
# ldconfig in its postinst and postrm (CPack adds those for /usr/lib).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libskarn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${SKARN_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}), libxerces-c-dev, libssl-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "SOAP messaging toolkit: development files
 Headers (<skarn/...>), the link-time libskarn.so, pkg-config's skarn.pc and
 the CMake package (find_package(Skarn), target Skarn::skarn) to build hosts
 of libskarn.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME skarn)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${SKARN_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}), libc6, libgcc-s1, libstdc++6")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "SOAP messaging toolkit: command-line tool
 skarn call sends a SOAP envelope with attachments to an endpoint and prints
 the answer (also as a load run); skarn serve stands up an endpoint that echoes
 or answers with a fixed envelope.")

# The copyright file of each package.
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component})
endforeach()
include(CPack)
