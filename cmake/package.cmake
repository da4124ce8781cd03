# The Debian package (make package; cpack -G DEB in the build folder):
#   /usr/lib/tolvane/RedfishServer/   the program and its plug-ins
#   /etc/tolvane/                     ServerConfiguration.json, a conffile
#   /var/lib/tolvane/RedfishServer/   the server directory the service runs
#                                     in (TOLVANE_INSTALL_PATH): state, key,
#                                     uploads, and links to the two above
#   /var/log/tolvane/                 the logs (TOLVANE_LOG_DIR)
# The maintainer scripts (packaging/) make the user tolvane and the writable
# folders; the dependencies come from dpkg-shlibdeps.
set(TOLVANE_PKG_NAME tolvane-redfish-server)
set(TOLVANE_PKG_PROGRAM_DIR usr/lib/tolvane/RedfishServer)
set(TOLVANE_PKG_SERVER_DIR var/lib/tolvane/RedfishServer)
set(TOLVANE_PKG_DOC_DIR usr/share/doc/${TOLVANE_PKG_NAME})
set(TOLVANE_PKG_SOURCE ${CMAKE_SOURCE_DIR}/packaging)

# Only the package installs anything; `cpack` must not build the tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS tolvaneredfishserver RUNTIME DESTINATION ${TOLVANE_PKG_PROGRAM_DIR})
install(TARGETS WebServerAbstractionModule LIBRARY DESTINATION ${TOLVANE_PKG_PROGRAM_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS LogServicePlugin LIBRARY DESTINATION ${TOLVANE_PKG_PROGRAM_DIR}/Plugins
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/config/ServerConfiguration.json DESTINATION etc/tolvane)
install(FILES ${TOLVANE_PKG_SOURCE}/tolvaneredfishserver.service DESTINATION lib/systemd/system)
install(FILES ${TOLVANE_PKG_SOURCE}/sysusers.conf DESTINATION usr/lib/sysusers.d
        RENAME ${TOLVANE_PKG_NAME}.conf)
install(FILES ${TOLVANE_PKG_SOURCE}/copyright DESTINATION ${TOLVANE_PKG_DOC_DIR})
# The program looks for its plug-ins and configuration in the server
# directory: links to files (dpkg keeps a link to a folder it finds in place
# on an upgrade), absolute as they cross top-level folders.
install(CODE "
  set(server \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TOLVANE_PKG_SERVER_DIR}\")
  set(doc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TOLVANE_PKG_DOC_DIR}\")
  file(MAKE_DIRECTORY \"\${server}/Plugins\")
  foreach(link WebServerAbstractionModule.so Plugins/LogServicePlugin.so)
    file(CREATE_LINK /${TOLVANE_PKG_PROGRAM_DIR}/\${link} \"\${server}/\${link}\" SYMBOLIC)
  endforeach()
  file(CREATE_LINK /etc/tolvane/ServerConfiguration.json
       \"\${server}/ServerConfiguration.json\" SYMBOLIC)
  execute_process(COMMAND gzip -9n -c ${TOLVANE_PKG_SOURCE}/changelog
                  OUTPUT_FILE \"\${doc}/changelog.gz\" COMMAND_ERROR_IS_FATAL ANY)
")

file(STRINGS ${TOLVANE_PKG_SOURCE}/changelog TOLVANE_PKG_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TOLVANE_PKG_CHANGELOG_TOP MATCHES "\\(${PROJECT_VERSION}\\)")
  message(WARNING "packaging/changelog has no entry for ${PROJECT_VERSION} at its top")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TOLVANE_PKG_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Redfish service for a RAID controller")
set(CPACK_PACKAGE_DESCRIPTION
    "A DMTF Redfish service over HTTPS with login sessions, the Redfish
privilege model and a loadable resource plug-in. The bundled plug-in
simulates a host with one RAID controller, eight drives and volumes.
The service runs under systemd as the user tolvane.")
set(TOLVANE_PACKAGE_MAINTAINER "Tolvane Redfish Server maintainers <maintainers@tolvane.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${TOLVANE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, so dpkg-shlibdeps cannot see them: postinst makes the user with
# systemd-sysusers; events go out through libcurl, loaded when first needed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers | systemd-sysusers")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcurl4")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TOLVANE_PKG_SOURCE}/conffiles ${TOLVANE_PKG_SOURCE}/postinst ${TOLVANE_PKG_SOURCE}/prerm
    ${TOLVANE_PKG_SOURCE}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
