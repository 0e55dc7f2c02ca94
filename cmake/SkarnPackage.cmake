# `cpack -G DEB` in the build folder: one Debian package, skarn, with what
# `cmake --install` puts under /usr (library, tool, headers, catalogue, CMake
# and pkg-config files). It depends on the runtime packages of Xerces-C and
# OpenSSL 3 of Debian 12.
set(CPACK_PACKAGE_NAME skarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Skarn developers")
set(CPACK_PACKAGE_CONTACT "Skarn developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SOAP messaging toolkit: envelopes with MIME attachments over HTTP, plain TCP or TLS")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree: the library shrinks from 11 MB to 0.6.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Skarn developers")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libxerces-c3.2, libssl3")
# A shlibs file and the ldconfig trigger for libskarn.so.0.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
