# Run by "cmake --install": writes the system unit with the prefix being installed to, which for
# the Debian package is known only then. CORVATEL_UNIT_TEMPLATE is set by the install rules.
set(BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(DATADIR "${CMAKE_INSTALL_PREFIX}/share")
set(unit "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/corvatel-service.service")
message(STATUS "Installing: ${unit}")
configure_file("${CORVATEL_UNIT_TEMPLATE}" "${unit}" @ONLY)
