include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS skarn EXPORT SkarnTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(dir api bus http mime session net conn platform)
  install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/skarn/${dir}
    FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES api/vexsktmsgs DESTINATION ${CMAKE_INSTALL_DATADIR}/skarn)
install(EXPORT SkarnTargets NAMESPACE Skarn:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn)
target_include_directories(skarn INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/skarn>)
file(WRITE ${CMAKE_BINARY_DIR}/SkarnConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/SkarnTargets.cmake\")\n")
configure_package_config_file(${CMAKE_BINARY_DIR}/SkarnConfig.cmake.in
  ${CMAKE_BINARY_DIR}/SkarnConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/SkarnConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/SkarnConfig.cmake ${CMAKE_BINARY_DIR}/SkarnConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Skarn)
