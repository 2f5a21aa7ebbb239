# Installation and the Debian package.
include(GNUInstallDirs)

# One application id for the desktop entry, the icon, the AppStream data and
# QGuiApplication::setDesktopFileName (Wayland finds the window's icon by it).
set(KOROZIA_APP_ID org.korozia.Korozia)

install(FILES ${CMAKE_SOURCE_DIR}/dist/${KOROZIA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${KOROZIA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${KOROZIA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korozia)
set(CPACK_PACKAGE_VENDOR "Korozia developers")
set(CPACK_PACKAGE_CONTACT "Korozia developers <korozia@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Leakage current and electro-corrosion hazard of contact line supports")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the shared-library scan cannot see: the SQLite driver is a Qt plugin
# loaded at run time, and the fonts stand in for the layout's original faces.
# The database server's client library (libpq5) is linked, so the scan names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
include(CPack)
