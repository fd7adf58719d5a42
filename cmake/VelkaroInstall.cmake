# Desktop integration of the installed reader: the application entry, the program icon in the
# hicolor theme, the AppStream metadata, the thumbnailer entry with its MIME types and the manual
# pages; and the Debian package made by `cpack -G DEB` in the build folder (scripts/package).
# The package's MIME types reach the desktop's database through shared-mime-info's trigger.
set(VELKARO_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/desktop)

install(FILES ${VELKARO_DESKTOP_DIR}/velkaro.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VELKARO_DESKTOP_DIR}/io.github.velkaro.Velkaro.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VELKARO_DESKTOP_DIR}/velkaro.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${VELKARO_DESKTOP_DIR}/icons/${size}/velkaro.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# The desktop's thumbnailer entry for the formats its own thumbnailers do not draw, and the MIME
# types of those the shared MIME database does not name.
install(FILES ${VELKARO_DESKTOP_DIR}/velkaro.thumbnailer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${VELKARO_DESKTOP_DIR}/velkaro-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME velkaro.xml)
install(FILES ${VELKARO_DESKTOP_DIR}/velkaro.1 ${VELKARO_DESKTOP_DIR}/velkaro-decode.1
              ${VELKARO_DESKTOP_DIR}/velkaro-render.1 ${VELKARO_DESKTOP_DIR}/velkaro-thumbnailer.1
              ${VELKARO_DESKTOP_DIR}/velkaro-convert.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME velkaro)
set(CPACK_PACKAGE_VENDOR "Velkaro")
set(CPACK_PACKAGE_CONTACT "Velkaro developers <velkaro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast reader for text files and pictures")
set(CPACK_PACKAGE_DESCRIPTION
    "A one-window reader with a folder browser beside a read-only text view and a picture view.\n"
    "Its own image library reads PNG, JPEG, TIFF, Targa, PCX, Photoshop, SGI, Photo-CD, portable\n"
    "maps, Paint Shop Pro, Dr. Halo, Alias/Wavefront, Autodesk, EPS previews and Windows\n"
    "bitmaps, icons and metafiles.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The runtime libraries the programs link (Qt, zlib, libjpeg, ...) become the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt platform plugin for X11 and Wayland sessions is a separate package.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Libraries opened on first use are not linked, so shlibdeps does not see them: the packages
# that hold their files on this machine are named here.
get_property(deferred GLOBAL PROPERTY VELKARO_DEFERRED_LIBRARIES)
foreach(file ${deferred})
    execute_process(COMMAND dpkg-query -S ${file} OUTPUT_VARIABLE owner ERROR_QUIET)
    if(owner MATCHES "^([^:, ]+)")
        string(FIND "${CPACK_DEBIAN_PACKAGE_DEPENDS}" ", ${CMAKE_MATCH_1}" seen)
        if(seen EQUAL -1)
            string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
        endif()
    endif()
endforeach()
include(CPack)
