# `cmake --install` puts libkvd.so with kvd.cfg and kvd_offline.cfg beside it,
# the public headers, the host programs, a CMake package (find_package(kvd),
# target kvd::kvd) and a pkg-config file (kvd.pc).
include(CMakePackageConfigHelpers)

install(TARGETS kvd EXPORT kvdTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES config/kvd.cfg config/kvd_offline.cfg DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/kvd DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kvd-mute-end kvd_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(kvd_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kvd)
install(EXPORT kvdTargets NAMESPACE kvd:: DESTINATION ${kvd_package_dir})
configure_package_config_file(cmake/kvdConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kvdConfig.cmake INSTALL_DESTINATION ${kvd_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kvdConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kvdConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kvdConfigVersion.cmake DESTINATION ${kvd_package_dir})

# The prefix is found from the .pc file's own place, so that an installed
# copy moved to, or installed into, another prefix still describes itself.
file(RELATIVE_PATH kvd_pc_to_prefix "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(cmake/kvd.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kvd.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kvd.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
