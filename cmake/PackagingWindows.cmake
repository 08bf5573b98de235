# The Windows installer and a zip of the same files, built by CPack from the install rules of
# packaging/windows: mbus-console-<version>-win64-setup.exe (NSIS; makensis from Debian's nsis
# package) installs the programs under Program Files with a Start-menu entry and an uninstaller,
# mbus-console-<version>-win64.zip holds them for those who do not install. scripts/package.sh
# builds both where the Windows console is built.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME mbus-console)
set(CPACK_PACKAGE_VENDOR "M-Bus console developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test console for CJ/T 188 meters on an M-Bus line")
set(CPACK_PACKAGE_INSTALL_DIRECTORY mbus-console)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY mbus-console)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The file name of each generator's package (cpack reads this file once per generator).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingWindowsNames.cmake)

# The installer: a 64-bit Unicode one (its names are Chinese; a 32-bit installer would need the
# 32-bit Windows layer, which Wine on Debian has only with i386 packages), 64-bit Program Files,
# the console's icon, the licence page, a Start-menu folder "M-Bus 测试工具" with the console's
# entry of that name.
set(CPACK_NSIS_PACKAGE_NAME "M-Bus 测试工具")
set(CPACK_NSIS_DISPLAY_NAME "M-Bus 测试工具 ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/mbus-console.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/windows/mbus-console.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME mbus-console.exe)
if(MBUS_WITH_GUI)
    set(CPACK_PACKAGE_EXECUTABLES mbus-console "M-Bus 测试工具")
    set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
endif()
# CMake's installer script makes a 32-bit ANSI installer; the same script for 64-bit Unicode.
file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in mbus_nsis_template)
string(FIND "${mbus_nsis_template}" "\n" mbus_first_line_end)
math(EXPR mbus_first_line_end "${mbus_first_line_end} + 1")
string(SUBSTRING "${mbus_nsis_template}" 0 ${mbus_first_line_end} mbus_nsis_head)
string(SUBSTRING "${mbus_nsis_template}" ${mbus_first_line_end} -1 mbus_nsis_rest)
file(WRITE ${CMAKE_BINARY_DIR}/cpack-nsis/NSIS.template.in
    "${mbus_nsis_head}  Target amd64-unicode\n${mbus_nsis_rest}")
set(CPACK_MODULE_PATH ${CMAKE_BINARY_DIR}/cpack-nsis)

include(CPack)
