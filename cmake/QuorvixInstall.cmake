# Install layout and the Debian package.
#   PREFIX/lib/quorvix/        the program folder: both programs, the code list, servers.ini, icon
#   PREFIX/bin/quorvix         a link to the viewer
#   PREFIX/bin/quote-portal    a link to the portal, for its import, export and refresh commands
#   PREFIX/share/applications, share/icons/hicolor, share/metainfo, share/doc/quorvix
set(QUORVIX_APP_ID org.quorvix.Quorvix)
set(QUORVIX_LICENSE "LicenseRef-proprietary" CACHE STRING "SPDX licence of the program")
set(QUORVIX_ICON_SIZES 16 32 48 128 256)
set(QUORVIX_PROGRAM_DIR lib/quorvix)

set(icon_dir ${CMAKE_BINARY_DIR}/icons)
set(icon_files ${icon_dir}/quorvix.svg)
foreach(size IN LISTS QUORVIX_ICON_SIZES)
    list(APPEND icon_files ${icon_dir}/quorvix-${size}.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
    COMMAND quorvix-icons ${icon_dir} ${QUORVIX_ICON_SIZES}
    DEPENDS quorvix-icons
    COMMENT "Drawing the icon files")
add_custom_target(quorvix_icons ALL DEPENDS ${icon_files})

# The metadata knows everything at configure time; the desktop entry's Exec needs the prefix
# given to the install, so it is written then.
configure_file(${CMAKE_SOURCE_DIR}/packaging/quorvix.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/packaging/${QUORVIX_APP_ID}.metainfo.xml @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog
            > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
set(man_pages)
foreach(page quorvix quote-portal)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz
        COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/${page}.1
                > ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${page}.1)
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
endforeach()
add_custom_target(quorvix_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${man_pages})

install(TARGETS quorvix quote-portal RUNTIME DESTINATION ${QUORVIX_PROGRAM_DIR})
install(FILES ${QUORVIX_DATA_FILES} ${icon_dir}/quorvix.svg DESTINATION ${QUORVIX_PROGRAM_DIR})
install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${bin}\")
    foreach(command quorvix quote-portal)
        file(REMOVE \"\${bin}/\${command}\")
        file(CREATE_LINK ../${QUORVIX_PROGRAM_DIR}/\${command} \"\${bin}/\${command}\" SYMBOLIC)
        message(STATUS \"Installing: \${bin}/\${command}\")
    endforeach()
    set(QUORVIX_APP_ID ${QUORVIX_APP_ID})
    set(QUORVIX_EXEC \"\${CMAKE_INSTALL_PREFIX}/bin/quorvix\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/quorvix.desktop.in\"
        \"${CMAKE_BINARY_DIR}/packaging/install/${QUORVIX_APP_ID}.desktop\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/packaging/install/${QUORVIX_APP_ID}.desktop\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\")
")
install(FILES ${icon_dir}/quorvix.svg
    DESTINATION share/icons/hicolor/scalable/apps RENAME ${QUORVIX_APP_ID}.svg)
foreach(size IN LISTS QUORVIX_ICON_SIZES)
    install(FILES ${icon_dir}/quorvix-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${QUORVIX_APP_ID}.png)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/packaging/${QUORVIX_APP_ID}.metainfo.xml
    DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/quorvix)
install(FILES ${man_pages} DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION share/doc/quorvix RENAME changelog.Debian.gz)

# cpack -G DEB: the libraries' packages come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quorvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvix developers")
set(CPACK_PACKAGE_CONTACT "The Quorvix developers <quorvix@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stock chart viewer with a local quote portal")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvix Chart Viewer shows technical charts of Japanese stocks\n"
    "(candles, moving averages, Bollinger bands, parabolic SAR, volume)\n"
    "and keeps a watch list of marked stocks. A local quote portal draws\n"
    "the charts from the user's own price data.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
    "libreoffice-calc, gnome-calculator | kcalc | mate-calc | galculator | qalculate-gtk | x11-apps")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
