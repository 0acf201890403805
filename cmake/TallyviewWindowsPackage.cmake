# The Windows installer; not built on the Linux machines this project is tested on. The install
# step runs windeployqt, which puts Qt's DLLs and plugins beside tallyview.exe, and
# cpack -G NSIS wraps the installed tree in an installer with a Start menu entry.
qt_generate_deploy_app_script(TARGET tallyview FILENAME_VARIABLE deploy_script)
install(SCRIPT ${deploy_script})

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Tallyview)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tallyview maintainers")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tallyview)
set(CPACK_PACKAGE_EXECUTABLES tallyview Tallyview)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/tallyview.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME bin/tallyview.exe)
include(CPack)
