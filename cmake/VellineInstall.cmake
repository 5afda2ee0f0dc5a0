# Installation (GNUInstallDirs) and the Debian package (CPack). The QML modules of the program
# are static plugins linked into the binaries, so the installed programs need nothing from the
# build folder.
include(GNUInstallDirs)

set(VELLINE_HOMEPAGE_URL "https://velline.org" CACHE STRING "Project home page (AppStream)")
set(VELLINE_SCREENSHOT_URL "https://velline.org/screenshots/" CACHE STRING
    "Where the pictures of docs/ are published (AppStream screenshots)")

install(TARGETS velline vellinectl velline-feedsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(VELLINE_DATA_OUT ${PROJECT_BINARY_DIR}/data)
configure_file(data/org.velline.Velline.desktop.in ${VELLINE_DATA_OUT}/${VELLINE_APP_ID}.desktop @ONLY)
configure_file(data/org.velline.Velline.metainfo.xml.in ${VELLINE_DATA_OUT}/${VELLINE_APP_ID}.metainfo.xml
    @ONLY)
install(FILES ${VELLINE_DATA_OUT}/${VELLINE_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VELLINE_DATA_OUT}/${VELLINE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(VELLINE_ICON ${PROJECT_SOURCE_DIR}/data/icons/org.velline.Velline.svg)
set(VELLINE_ICON_SYMBOLIC ${PROJECT_SOURCE_DIR}/data/icons/org.velline.Velline-symbolic.svg)
set(VELLINE_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${VELLINE_ICON} DESTINATION ${VELLINE_ICON_DIR}/scalable/apps
    RENAME ${VELLINE_APP_ID}.svg)
install(FILES ${VELLINE_ICON_SYMBOLIC} DESTINATION ${VELLINE_ICON_DIR}/symbolic/apps
    RENAME ${VELLINE_APP_ID}-symbolic.svg)

# PNG sizes for desktops and trays that do not draw SVG icons, rendered from the SVG.
find_program(VELLINE_RSVG_CONVERT rsvg-convert)
if(VELLINE_RSVG_CONVERT)
    set(pngs)
    foreach(size 16 22 24 32 48 64 128 256 512)
        set(png ${VELLINE_DATA_OUT}/icons/${size}x${size}/${VELLINE_APP_ID}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLINE_DATA_OUT}/icons/${size}x${size}
            COMMAND ${VELLINE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${VELLINE_ICON}
            DEPENDS ${VELLINE_ICON} VERBATIM)
        list(APPEND pngs ${png})
        install(FILES ${png} DESTINATION ${VELLINE_ICON_DIR}/${size}x${size}/apps)
    endforeach()
    add_custom_target(velline_icons ALL DEPENDS ${pngs})
else()
    message(WARNING "rsvg-convert not found: the PNG icons are not installed")
endif()

# Manual pages, the changelog and the copyright file, compressed where Debian wants them so.
# The pages carry the date of the newest changelog entry, so a build does not depend on its day.
file(STRINGS ${PROJECT_SOURCE_DIR}/data/debian/changelog VELLINE_CHANGELOG_DATE
     REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+ [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9]" VELLINE_MAN_DATE
       "${VELLINE_CHANGELOG_DATE}")
find_program(VELLINE_GZIP gzip REQUIRED)
set(VELLINE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/velline)
set(docs)
foreach(page velline vellinectl velline-feedsim)
    set(man ${VELLINE_DATA_OUT}/man/${page}.1)
    configure_file(man/${page}.1.in ${man} @ONLY)
    add_custom_command(OUTPUT ${man}.gz
        COMMAND ${VELLINE_GZIP} -9 -n -k -f ${man}
        DEPENDS ${man} VERBATIM)
    list(APPEND docs ${man}.gz)
    install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(changelog ${VELLINE_DATA_OUT}/changelog)
configure_file(data/debian/changelog ${changelog} COPYONLY)
add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${VELLINE_GZIP} -9 -n -k -f ${changelog}
    DEPENDS ${changelog} VERBATIM)
list(APPEND docs ${changelog}.gz)
add_custom_target(velline_docs ALL DEPENDS ${docs})
install(FILES ${changelog}.gz data/debian/copyright DESTINATION ${VELLINE_DOC_DIR})

# The Debian package: scripts/package.sh, or `cpack -G DEB` in a build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velline developers")
set(CPACK_PACKAGE_CONTACT "The Velline developers <packages@velline.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Stock ticker in a small notch at the top of the screen")
# Debian wants the lines of the long description within 80 columns (with their leading space).
set(CPACK_PACKAGE_DESCRIPTION
    "Velline shows your stocks in a small black notch at the top centre of the\n"
    "screen. It rotates through your symbols, refreshes their quotes every two\n"
    "seconds, pulses on price spikes and on your own price alerts, and opens into a\n"
    "card with an intraday chart and your portfolio's result when the pointer rests\n"
    "on it.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELLINE_HOMEPAGE_URL})
set(CPACK_STRIP_FILES ON)
# Libraries come from the binaries themselves; what is loaded at run time (the X11 platform
# plugin, Qt's QML modules, the SVG icon engine, the fonts) is listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6svg6, qml6-module-qtqml, qml6-module-qtqml-workerscript, \
qml6-module-qtquick, qml6-module-qtquick-window, qml6-module-qtquick-shapes, \
qml6-module-qtquick-layouts, qml6-module-qtquick-controls, qml6-module-qtquick-templates, \
qml6-module-qtquick-dialogs, fonts-material-design-icons-iconfont, fonts-inter")
# Installing updates: pkexec with apt-get, or the desktop's installer through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, xdg-utils")
include(CPack)
