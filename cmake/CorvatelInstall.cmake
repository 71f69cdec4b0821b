# What "cmake --install" puts under the prefix, and the Debian package cpack builds from it.
include(GNUInstallDirs)

set(CORVATEL_ICON_SIZES 16 22 24 32 48 64 128 256)
set(data ${PROJECT_SOURCE_DIR}/data)
set(service_data ${PROJECT_SOURCE_DIR}/tools/service/data/sample-list.txt
                 ${PROJECT_SOURCE_DIR}/tools/service/data/regions.txt)

# The build tree mirrors the installed layout (bin/ next to share/corvatel/), so build/bin/corvatel
# finds the service's sample data the way an installed one does.
foreach(f IN LISTS service_data)
  get_filename_component(name ${f} NAME)
  configure_file(${f} ${CMAKE_BINARY_DIR}/share/corvatel/${name} COPYONLY)
endforeach()

install(TARGETS corvatel-service corvatel-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${service_data} DESTINATION ${CMAKE_INSTALL_DATADIR}/corvatel)
set(pages corvatel-service.1 corvatel-check.1)
# Without the UI only the service and the tester without a window are installed.
if(CORVATEL_UI)
  install(TARGETS corvatel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${data}/corvatel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${data}/io.github.corvatel.Corvatel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${data}/icons/corvatel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size IN LISTS CORVATEL_ICON_SIZES)
    install(FILES ${data}/icons/hicolor/${size}x${size}/apps/corvatel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  list(APPEND pages corvatel.1)
endif()

set(man_pages)
foreach(page IN LISTS pages)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${data}/man/${page} > ${out}
    DEPENDS ${data}/man/${page} VERBATIM)
  list(APPEND man_pages ${out})
endforeach()
add_custom_target(corvatel_man ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The system unit (disabled until enabled) names the installed program and data, so it is
# written at install time, when the prefix is final.
install(CODE "set(CORVATEL_UNIT_TEMPLATE \"${data}/systemd/corvatel-service.service.in\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/CorvatelInstallUnit.cmake)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvatel RENAME copyright)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvatel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvatel)
set(CPACK_PACKAGE_VENDOR "Corvatel developers")
set(CPACK_PACKAGE_CONTACT "Corvatel developers <dev@corvatel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds, tests and manages open proxy servers")
# cpack puts the summary first and indents these lines below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
Corvatel keeps a proxy list downloaded from a proxy-list service and one
imported from files, the clipboard and web pages, filters and sorts them,
tests proxies for speed, location and anonymity, and switches one on as the
desktop's proxy. corvatel-check tests proxy lists without a window, for
scripts and servers. corvatel-service, the proxy-list service it talks to, is
included with a sample list.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvatel.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# gsettings sets the GNOME proxy; the tinyproxy in the sample list is a local proxy to try.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "libglib2.0-bin, gsettings-desktop-schemas, xdg-utils, tinyproxy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
