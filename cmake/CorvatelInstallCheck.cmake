# ctest: installs the build into a fresh prefix and checks what lands there, then validates the
# desktop entry and the AppStream file with the desktop's own tools when they are installed.
# cmake -DBUILD_DIR=... -DPREFIX=... [-DUI=OFF] -P CorvatelInstallCheck.cmake
# UI=OFF: a build without the window, which installs the service and corvatel-check only.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

if(NOT DEFINED UI)
  set(UI ON)
endif()
set(expected
  bin/corvatel-check
  bin/corvatel-service
  lib/systemd/system/corvatel-service.service
  share/corvatel/regions.txt
  share/corvatel/sample-list.txt
  share/doc/corvatel/README.md
  share/doc/corvatel/copyright
  share/man/man1/corvatel-check.1.gz
  share/man/man1/corvatel-service.1.gz)
if(UI)
  list(APPEND expected
    bin/corvatel
    share/applications/corvatel.desktop
    share/icons/hicolor/scalable/apps/corvatel.svg
    share/man/man1/corvatel.1.gz
    share/metainfo/io.github.corvatel.Corvatel.metainfo.xml)
  foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/corvatel.png)
  endforeach()
endif()
list(SORT expected)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
string(REPLACE ";" "\n  " shown "${installed}")
message(STATUS "installed under ${PREFIX}:\n  ${shown}")
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " wanted "${expected}")
  message(FATAL_ERROR "expected exactly:\n  ${wanted}")
endif()

file(READ "${PREFIX}/lib/systemd/system/corvatel-service.service" unit)
if(NOT unit MATCHES "ExecStart=${PREFIX}/bin/corvatel-service "
   OR NOT unit MATCHES "--list ${PREFIX}/share/corvatel/sample-list.txt")
  message(FATAL_ERROR "the unit does not name the installed program and list:\n${unit}")
endif()
if(unit MATCHES "@")
  message(FATAL_ERROR "the unit still holds a placeholder:\n${unit}")
endif()

if(NOT UI)
  return()
endif()

file(STRINGS "${PREFIX}/share/applications/corvatel.desktop" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=corvatel --data-home")
  message(FATAL_ERROR "the menu entry should start \"corvatel --data-home\", not: ${exec}")
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} "${PREFIX}/share/applications/corvatel.desktop"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate (${rc}):\n${out}${err}")
  endif()
  message(STATUS "desktop-file-validate: no remarks")
else()
  message(STATUS "desktop-file-validate is not installed: the desktop entry was not validated")
endif()

find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND ${APPSTREAMCLI} validate --no-net
                          "${PREFIX}/share/metainfo/io.github.corvatel.Corvatel.metainfo.xml"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "appstreamcli validate (${rc}):\n${out}${err}")
  endif()
  message(STATUS "appstreamcli validate: ${out}")
else()
  message(STATUS "appstreamcli is not installed: the AppStream file was not validated")
endif()
