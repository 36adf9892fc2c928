# The Debian packages (scripts/package runs cpack over a Release build):
#   /usr/lib/quilmarend/quilmarend       the server
#   /usr/lib/quilmarend/libvantorix.so   the folder-backed upload service
#   /usr/lib/quilmarend/libxml2.so.2     a link to the system's libxml2, which the server binds
#                                         from its own folder
#   /usr/sbin/quilmarend                 a link to the server; the server finds its folder
#                                         through /proc/self/exe, so the link is enough
#   /usr/bin/quilmarend-check            the command-line client
#   /usr/share/man/man1/quilmarend-check.1.gz, /usr/share/man/man8/quilmarend.8.gz
#   /usr/lib/sysusers.d/quilmarend.conf  the system user "quilmarend" the service runs as, which
#                                         the package's postinst creates
#   /etc/default/quilmarend              the service's settings (a conffile)
#   /etc/logrotate.d/quilmarend          the rotation of the log file the settings suggest
#                                         (a conffile)
#   /usr/share/doc/quilmarend/           copyright, changelog.gz, README.md.gz, docs/*.md.gz and
#                                         quilmarend-check.schema.json
#                                         (the documents for operators, integrators, users and
#                                         desktops; not docs/development.md), the HTTP
#                                         API's openapi.json and nginx-quilmarend.conf
# with maintainer scripts that stop a registered service on removal, restart it on an upgrade
# and delete the registration and the state on purge; and a second package, quilmarend-desktop,
# so that a server without a desktop never pulls GTK in:
#   /usr/lib/quilmarend/libquilmarend-desktop.so   the tray icon, boxes and file dialog
#   /usr/share/applications/quilmarend.desktop     the launcher
#   /etc/xdg/autostart/quilmarend.desktop          the launcher at login, off until switched on
#   /usr/share/icons/hicolor/*/apps/quilmarend.*   the icon
# The version is the program's own, read from platform/base/names.h.
file(STRINGS ${PROJECT_SOURCE_DIR}/platform/base/names.h QUILMAREND_VERSION
     REGEX "kDottedVersion\\[\\] = \"[0-9.]+\"")
string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" QUILMAREND_VERSION "${QUILMAREND_VERSION}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/base/names.h)
set(QUILMAREND_LIBDIR lib/quilmarend)
# cpack installs what the packaged targets built; it need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(package_files ${PROJECT_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${package_files})

install(TARGETS quilmarend RUNTIME DESTINATION ${QUILMAREND_LIBDIR} COMPONENT server)
install(TARGETS vantorix LIBRARY DESTINATION ${QUILMAREND_LIBDIR} NAMELINK_SKIP COMPONENT server)
install(TARGETS quilmarend-check RUNTIME DESTINATION bin COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/sysusers.conf DESTINATION lib/sysusers.d
        RENAME quilmarend.conf COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/default DESTINATION /etc/default RENAME quilmarend
        COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/logrotate DESTINATION /etc/logrotate.d
        RENAME quilmarend COMPONENT server)

# Manual pages, the changelog and the documents go gzipped, as Debian wants them (-n: no time
# stamp in the file, so that a rebuild gives the same bytes).
configure_file(${PROJECT_SOURCE_DIR}/deploy/changelog ${package_files}/changelog @ONLY)
set(gzipped)
foreach(source ${PROJECT_SOURCE_DIR}/client/quilmarend-check.1 ${PROJECT_SOURCE_DIR}/deploy/quilmarend.8
        ${package_files}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${package_files}/${name}.gz
    COMMAND gzip -9n -c ${source} > ${package_files}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND gzipped ${package_files}/${name}.gz)
endforeach()
# The operator's, integrator's, user's and desktop documents, in the places they have in the source
# (README.md beside docs/), so that their links between each other still lead somewhere; the
# developer's docs/development.md stays in the source. The HTTP API's and the client's documents go
# along when the tree has them; the folder is watched so that a new one is picked up.
set(shipped_documents README.md docs/admin.md docs/protocol.md docs/desktop.md)
foreach(document docs/http-api.md docs/client.md)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${document})
    list(APPEND shipped_documents ${document})
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs)
file(MAKE_DIRECTORY ${package_files}/docs)
foreach(document ${shipped_documents})
  add_custom_command(OUTPUT ${package_files}/${document}.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${document} > ${package_files}/${document}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${document} VERBATIM)
  list(APPEND gzipped ${package_files}/${document}.gz)
  get_filename_component(folder ${document} DIRECTORY)
  install(FILES ${package_files}/${document}.gz DESTINATION share/doc/quilmarend/${folder}
          COMPONENT server)
endforeach()
add_custom_target(quilmarend-package-files ALL DEPENDS ${gzipped})
install(FILES ${package_files}/quilmarend-check.1.gz DESTINATION share/man/man1 COMPONENT server)
install(FILES ${package_files}/quilmarend.8.gz DESTINATION share/man/man8 COMPONENT server)
foreach(component server desktop)
  set(doc share/doc/quilmarend)
  if(component STREQUAL desktop)
    set(doc share/doc/quilmarend-desktop)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/deploy/copyright ${package_files}/changelog.gz
          DESTINATION ${doc} COMPONENT ${component})
endforeach()
# The JSON Schema of quilmarend-check --json, for scripts that validate what they read; the HTTP
# API's description (the server serves the same bytes) and nginx in front of it.
install(FILES ${PROJECT_SOURCE_DIR}/client/quilmarend-check.schema.json
              ${PROJECT_SOURCE_DIR}/deploy/openapi.json ${PROJECT_SOURCE_DIR}/deploy/nginx-quilmarend.conf
        DESTINATION share/doc/quilmarend COMPONENT server)

if(TARGET quilmarend-desktop)
  install(TARGETS quilmarend-desktop LIBRARY DESTINATION ${QUILMAREND_LIBDIR} COMPONENT desktop)
  install(DIRECTORY ${QUILMAREND_ICON_FOLDER}/hicolor DESTINATION share/icons COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/deploy/quilmarend.desktop DESTINATION share/applications
          COMPONENT desktop)
  # The autostart entry is the launcher, hidden: Xfce lists it unticked in its session settings,
  # and GNOME's session skips it; a person's ticked copy in ~/.config/autostart turns it on.
  file(READ ${PROJECT_SOURCE_DIR}/deploy/quilmarend.desktop launcher)
  file(WRITE ${package_files}/autostart/quilmarend.desktop
       "${launcher}# Off until a person switches it on in the session's startup settings.\n"
       "Hidden=true\nX-GNOME-Autostart-enabled=false\n")
  install(FILES ${package_files}/autostart/quilmarend.desktop DESTINATION /etc/xdg/autostart
          COMPONENT desktop)
endif()

set(link_folder ${PROJECT_BINARY_DIR}/package-links)
file(MAKE_DIRECTORY ${link_folder})
file(CREATE_LINK ../${CMAKE_LIBRARY_ARCHITECTURE}/libxml2.so.2 ${link_folder}/libxml2.so.2
     SYMBOLIC)
file(CREATE_LINK ../lib/quilmarend/quilmarend ${link_folder}/quilmarend SYMBOLIC)
install(FILES ${link_folder}/libxml2.so.2 DESTINATION ${QUILMAREND_LIBDIR} COMPONENT server)
install(FILES ${link_folder}/quilmarend DESTINATION sbin COMPONENT server)

# The control files: maintainer scripts, and the conffiles under /etc that dpkg keeps a person's
# changes to.
file(WRITE ${package_files}/server/conffiles
     "/etc/default/quilmarend\n/etc/logrotate.d/quilmarend\n")
file(WRITE ${package_files}/desktop/conffiles "/etc/xdg/autostart/quilmarend.desktop\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilmarend)
set(CPACK_PACKAGE_VERSION ${QUILMAREND_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Quilmarend developers <quilmarend@example.org>")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quilmarend)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quilmarend-desktop)
# The first line is the summary, the rest the extended description.
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Signature verification server (CMS and XML signatures)
Client programs connect over TCP (port 3847) and ask, in a plain-text line
protocol, whether an electronic signature is valid: a detached CMS signature
or a bare XML-signature value (GOST R 34.10-2001/2012, RSA, ECDSA). The
server checks the signer's certificate against its stores and judges its
chain, and can answer with an HTML report. It runs as a hardened systemd
service under its own system user. The package also holds quilmarend-check,
a command-line client.")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "Signature verification server: tray icon and launcher
The Quilmarend server, started on a desktop, shows an icon in the
notification area (StatusNotifierItem) with its menu, and its message boxes
and file dialog as windows (GTK 3). A launcher in the applications menu
starts the server as the user, and an autostart entry, off by default,
starts it at login.")
set(CPACK_DEBIAN_SERVER_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "quilmarend (= ${QUILMAREND_VERSION})")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the GOST engine, libxml2 (bound from the
# link above) and systemctl for -i, -u and -start.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libengine-gost-openssl, libxml2, systemd")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/deploy/postinst ${PROJECT_SOURCE_DIR}/deploy/prerm
    ${PROJECT_SOURCE_DIR}/deploy/postrm ${package_files}/server/conffiles)
# The desktop package's own scripts stand in for the ones CPack would write to run ldconfig:
# its library lies in the server's private folder, which the loader's cache never holds.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_EXTRA ${package_files}/desktop/conffiles
    ${PROJECT_SOURCE_DIR}/deploy/desktop/postinst ${PROJECT_SOURCE_DIR}/deploy/desktop/postrm)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
