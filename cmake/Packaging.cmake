# Install rules and the Debian package. Included at the end of the top-level CMakeLists.txt, once
# every target exists, so that a program this build leaves out (the window without Qt, the service
# before it is written) simply is not installed. Tests, benchmarks and gateway-sim are never
# installed.
#
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-rel && cd build-rel && cpack -G DEB

include(GNUInstallDirs)

set(PARLIX_PACKAGE_NAME parlix)

# Debian keeps a package's documents in share/doc/<package>, not under the project's name.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PARLIX_PACKAGE_NAME}")
endif()

# Relative, so that it follows the prefix: /usr/lib/systemd/system in the package.
set(PARLIX_SYSTEMD_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the systemd unit goes, relative to the install prefix")

foreach(program parlix parlixd parlix-queue)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlixd.service
        DESTINATION ${PARLIX_SYSTEMD_UNIT_DIR})

if(TARGET parlix)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlix.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PARLIX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Parlix developers")
set(CPACK_PACKAGE_CONTACT "Parlix developers <parlix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "passes queued SMS messages to an HTTP SMS gateway")
# Debian wants the long description in lines of at most 80 columns; CPack indents each line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Parlix takes the SMS messages that other software queues in a local\n"
       "encrypted (SQLCipher) database and passes them to the SMS gateway over\n"
       "HTTP in compressed batches, then records each message's status and its\n"
       "delivery report in the queue.\n"
       "\n"
       "The package holds the window (parlix), the queue tool (parlix-queue) and\n"
       "the headless service (parlixd), whose systemd unit runs it as the system\n"
       "user parlix on the folder /var/lib/parlix.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps adds the shared libraries' packages; postinst needs adduser.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
