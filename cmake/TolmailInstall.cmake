# Install rules: headers, both libraries, the command, a CMake package
# (find_package(tolmail) -> tolmail::tolmail, tolmail::tolmail_static) and tolmail.pc.
include(CMakePackageConfigHelpers)

set(TOLMAIL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tolmail)
set(TOLMAIL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tolmail tolmail_static EXPORT tolmailTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tolmail
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
if(TARGET tolmail_cli)
  install(TARGETS tolmail_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

install(EXPORT tolmailTargets
  NAMESPACE tolmail::
  FILE tolmailTargets.cmake
  DESTINATION ${TOLMAIL_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tolmailConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tolmailConfig.cmake
  INSTALL_DESTINATION ${TOLMAIL_CMAKE_DIR})
# 1.x releases keep the interface of 1.0; the library's SOVERSION follows the same major.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tolmailConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tolmailConfig.cmake ${PROJECT_BINARY_DIR}/tolmailConfigVersion.cmake
  DESTINATION ${TOLMAIL_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so that an installed tree
# can be moved (or installed with cmake --install --prefix) and still describe itself.
file(RELATIVE_PATH TOLMAIL_PC_TO_PREFIX /prefix/${TOLMAIL_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" TOLMAIL_PC_TO_PREFIX "${TOLMAIL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tolmail.pc.in ${PROJECT_BINARY_DIR}/tolmail.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tolmail.pc DESTINATION ${TOLMAIL_PKGCONFIG_DIR})
