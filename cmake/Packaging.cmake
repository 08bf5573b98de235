# The Debian package of the console and the `mbus` tool, built by CPack from the install rules
# (packaging/CMakeLists.txt). scripts/package.sh is the one command that builds it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mbus-console)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MBUS_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test console for CJ/T 188 meters on an M-Bus line")
# CPack indents these lines for the control file and marks the blank one as a paragraph break.
set(CPACK_PACKAGE_DESCRIPTION [=[A desktop console for water, gas, heat and electricity meters that hang on
an M-Bus line behind a serial port and speak the CJ/T 188 household-meter
protocol. It builds the read-data request for a meter address, type and data
identifier, sends it once or on a timer, frames the reply by a quiet gap of
the line, shows the traffic as hex text and decodes the reply. A readings
window keeps every reply with its units, status and frame check in a table,
plots one value over time and exports the rows as CSV.

The mbus command-line tool does the same without a window (frame, decode,
read, address, ports) and runs a simulated meter on a pseudo-terminal (sim).]=])
# The runtime libraries (Qt 6, the C++ library) come from dpkg-shlibdeps; Qt's own texts in the
# console (message box buttons, file dialogs) come from Qt's Chinese translation; the console's
# texts need a font with Chinese glyphs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-zenhei")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
