# The Debian package: cpack (or bash dev.sh package) writes tallyview_VERSION_ARCH.deb into the
# build directory. Depends comes from dpkg-shlibdeps alone, so it names exactly the libraries the
# programs load.
set(TALLYVIEW_MAINTAINER "Tallyview maintainers <maintainers@tallyview.example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(doc ${CMAKE_INSTALL_DATADIR}/doc/tallyview)
install(FILES ${PROJECT_SOURCE_DIR}/package/copyright DESTINATION ${doc})
set(changelog ${CMAKE_BINARY_DIR}/package/changelog.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/package/changelog > ${changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/package/changelog)
add_custom_target(tallyview-changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallyview)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tallyview maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "press-table terminal for a sports venue's serial line")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/package/description.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TALLYVIEW_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
