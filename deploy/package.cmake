# The Debian package (scripts/package runs cpack over a Release build):
#   /usr/lib/quilmarend/quilmarend       the server
#   /usr/lib/quilmarend/libvantorix.so   the folder-backed upload service
#   /usr/lib/quilmarend/libxml2.so.2     a link to the system's libxml2, which the server binds
#                                         from its own folder
#   /usr/sbin/quilmarend                 a link to the server; the server finds its folder
#                                         through /proc/self/exe, so the link is enough
#   /usr/bin/quilmarend-check            the command-line client, with its manual page
#   /usr/share/man/man1/quilmarend-check.1.gz
#   /usr/lib/sysusers.d/quilmarend.conf  the system user "quilmarend" the service runs as, which
#                                         the package's postinst creates
# and a second package, quilmarend-desktop, with the tray icon's library
#   /usr/lib/quilmarend/libquilmarend-desktop.so
# so that a server without a desktop never pulls GTK in.
set(QUILMAREND_VERSION 3.1.0.10)
set(QUILMAREND_LIBDIR lib/quilmarend)
# cpack installs what the packaged targets built; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS quilmarend RUNTIME DESTINATION ${QUILMAREND_LIBDIR} COMPONENT server)
install(TARGETS vantorix LIBRARY DESTINATION ${QUILMAREND_LIBDIR} NAMELINK_SKIP COMPONENT server)
install(TARGETS quilmarend-check RUNTIME DESTINATION bin COMPONENT server)
set(manual ${PROJECT_BINARY_DIR}/quilmarend-check.1.gz)
add_custom_command(OUTPUT ${manual}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/client/quilmarend-check.1 > ${manual}
  DEPENDS ${PROJECT_SOURCE_DIR}/client/quilmarend-check.1 VERBATIM)
add_custom_target(quilmarend-check-manual ALL DEPENDS ${manual})
install(FILES ${manual} DESTINATION share/man/man1 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/sysusers.conf DESTINATION lib/sysusers.d
        RENAME quilmarend.conf COMPONENT server)
if(TARGET quilmarend-desktop)
  install(TARGETS quilmarend-desktop LIBRARY DESTINATION ${QUILMAREND_LIBDIR} COMPONENT desktop)
endif()

set(link_folder ${PROJECT_BINARY_DIR}/package-links)
file(MAKE_DIRECTORY ${link_folder})
file(CREATE_LINK /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/libxml2.so.2 ${link_folder}/libxml2.so.2
     SYMBOLIC)
file(CREATE_LINK ../lib/quilmarend/quilmarend ${link_folder}/quilmarend SYMBOLIC)
install(FILES ${link_folder}/libxml2.so.2 DESTINATION ${QUILMAREND_LIBDIR} COMPONENT server)
install(FILES ${link_folder}/quilmarend DESTINATION sbin COMPONENT server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilmarend)
set(CPACK_PACKAGE_VERSION ${QUILMAREND_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Quilmarend developers <quilmarend@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Signature verification server (CMS and XML signatures)")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quilmarend)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quilmarend-desktop)
set(CPACK_DEBIAN_SERVER_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "quilmarend (= ${QUILMAREND_VERSION})")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the GOST engine, libxml2 (bound from the
# link above) and systemctl for -i, -u and -start.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libengine-gost-openssl, libxml2, systemd")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/deploy/postinst)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
