# Manual pages made from the programs' --help at build time, the install
# layout and the Debian package (cpack -G DEB in the build tree):
#   /usr/bin/TidewellMakeList                 the publisher's tool
#   /usr/lib/tidewell/TidewellKiro            the template that --init copies
#   /usr/lib/tidewell/TidewellKiro.template   marks it, so it never updates itself
#   /usr/bin/TidewellKiro -> ../lib/tidewell/TidewellKiro
#   /usr/share/man/man1/*.1.gz, the icon, copyright and changelog
# No .desktop file: the template has nothing to show; every installation
# writes its own shortcuts on its first run.
include(GNUInstallDirs)

set(TIDEWELL_TEMPLATE_DIR lib/tidewell)
set(_pkg_dir ${CMAKE_BINARY_DIR}/package)

# --- manual pages ---
find_program(TIDEWELL_HELP2MAN help2man)
find_program(TIDEWELL_GZIP gzip)
set(TIDEWELL_MAN_PAGES)
if(TIDEWELL_HELP2MAN AND TIDEWELL_GZIP)
    set(_name_TidewellKiro "keep an installation folder in step with its update server")
    set(_name_TidewellMakeList "write the list file of a release folder for the update server")
    foreach(_prog IN ITEMS TidewellKiro TidewellMakeList)
        set(_page ${_pkg_dir}/man/${_prog}.1)
        add_custom_command(OUTPUT ${_page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${_pkg_dir}/man
            COMMAND ${TIDEWELL_HELP2MAN} --no-info --section 1 --name ${_name_${_prog}}
                    --output ${_page} $<TARGET_FILE:${_prog}>
            COMMAND ${TIDEWELL_GZIP} -9nf ${_page}
            DEPENDS ${_prog}
            COMMENT "Manual page ${_prog}(1) from --help"
            VERBATIM)
        list(APPEND TIDEWELL_MAN_PAGES ${_page}.gz)
    endforeach()
    add_custom_target(tidewell_man ALL DEPENDS ${TIDEWELL_MAN_PAGES})
else()
    message(STATUS "help2man or gzip not found: no manual pages, no package")
endif()

# --- install layout ---
install(TARGETS TidewellMakeList RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS TidewellKiro RUNTIME DESTINATION ${TIDEWELL_TEMPLATE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/package/template-note.txt
    DESTINATION ${TIDEWELL_TEMPLATE_DIR} RENAME TidewellKiro.template)
file(MAKE_DIRECTORY ${_pkg_dir}/bin)
file(CREATE_LINK ../${TIDEWELL_TEMPLATE_DIR}/TidewellKiro ${_pkg_dir}/bin/TidewellKiro SYMBOLIC)
install(FILES ${_pkg_dir}/bin/TidewellKiro DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TIDEWELL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/png/app_icon.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME tidewell.png)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/changelog.in ${_pkg_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${_pkg_dir}/changelog.gz
    COMMAND ${TIDEWELL_GZIP} -9nc ${_pkg_dir}/changelog > ${_pkg_dir}/changelog.gz
    DEPENDS ${_pkg_dir}/changelog)
add_custom_target(tidewell_changelog ALL DEPENDS ${_pkg_dir}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/package/copyright ${_pkg_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tidewell)

# --- Debian package ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tidewell developers <tidewell@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "updater that keeps an installation in step with its server")
set(CPACK_PACKAGE_DESCRIPTION
    "TidewellKiro keeps an installation folder in step with an update server over\n"
    "HTTP or HTTPS and then starts the program it updates. TidewellMakeList writes\n"
    "the list file of a release folder for the server. The packaged TidewellKiro\n"
    "is a template: TidewellKiro --init DIR --server URL prepares an installation.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DIRECTORY ${_pkg_dir})
include(CPack)
