# Install rules and the Debian packages. Included at the end of the top-level CMakeLists.txt, once
# every target exists, so that a program this build leaves out (the window without Qt) simply is
# not installed. Tests, benchmarks and gateway-sim are never installed.
#
#   cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-rel && cd build-rel && cpack -G DEB   # parlix and parlix-window

include(GNUInstallDirs)

set(PARLIX_PACKAGE_NAME parlix)

# Debian keeps a package's documents in share/doc/<package>, not under the project's name.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PARLIX_PACKAGE_NAME}")
endif()

# Relative, so that it follows the prefix: /usr/lib/systemd/system in the package.
set(PARLIX_SYSTEMD_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the systemd unit goes, relative to the install prefix")

# Two packages: "parlix" holds the service, the queue tool and the unit, and needs no Qt, so it
# installs on a server without a display; "parlix-window" holds the window and its desktop entry.
foreach(program parlixd parlix-queue)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlixd.service
        DESTINATION ${PARLIX_SYSTEMD_UNIT_DIR} COMPONENT service)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/parlix.conf.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT service)

set(PARLIX_PACKAGE_COMPONENTS service)
if(TARGET parlix)
  install(TARGETS parlix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/parlix.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  list(APPEND PARLIX_PACKAGE_COMPONENTS window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PARLIX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Parlix developers")
set(CPACK_PACKAGE_CONTACT "Parlix developers <parlix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "passes queued SMS messages to an HTTP SMS gateway")
# Debian wants the long description in lines of at most 80 columns; CPack indents each line.
# Each package's follows the summary the two share.
string(CONCAT PARLIX_DESCRIPTION_START
       "Parlix takes the SMS messages that other software queues in a local\n"
       "encrypted (SQLCipher) database and passes them to the SMS gateway over\n"
       "HTTP in compressed batches, then records each message's status and its\n"
       "delivery report in the queue.\n"
       "\n")
string(CONCAT CPACK_DEBIAN_SERVICE_DESCRIPTION
       "${PARLIX_DESCRIPTION_START}"
       "This package holds the headless service (parlixd), whose systemd unit\n"
       "runs it as the system user parlix on the folder /var/lib/parlix, and the\n"
       "queue tool (parlix-queue). It needs no display.")
string(CONCAT CPACK_DEBIAN_WINDOW_DESCRIPTION
       "${PARLIX_DESCRIPTION_START}"
       "This package holds the window (parlix), which an operator watches, with\n"
       "its desktop entry.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${PARLIX_PACKAGE_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME parlix)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME parlix-window)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps adds the shared libraries' packages; postinst needs adduser.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
