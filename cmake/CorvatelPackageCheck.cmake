# ctest: builds the Debian package with cpack into OUT_DIR and checks its control data and files.
# cmake -DBUILD_DIR=... -DOUT_DIR=... -P CorvatelPackageCheck.cmake
file(REMOVE_RECURSE "${OUT_DIR}")
execute_process(COMMAND cpack -G DEB -D "CPACK_OUTPUT_FILE_PREFIX=${OUT_DIR}"
                WORKING_DIRECTORY "${BUILD_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}${err}")
endif()
file(GLOB deb "${OUT_DIR}/corvatel_*_*.deb")
if(NOT deb)
  message(FATAL_ERROR "no corvatel_<version>_<arch>.deb in ${OUT_DIR}:\n${out}")
endif()
execute_process(COMMAND dpkg-deb --field "${deb}" Package Depends Section
                OUTPUT_VARIABLE fields RESULT_VARIABLE rc)
message(STATUS "${deb}:\n${fields}")
# The dependencies are those dpkg-shlibdeps found in the programs, not a list kept by hand.
foreach(library libqt6core6 libqt6widgets6 libqt6network6 libqt6httpserver6 libc6)
  if(NOT fields MATCHES "${library} \\(>= ")
    message(FATAL_ERROR "${library} with a version is missing from Depends")
  endif()
endforeach()
execute_process(COMMAND dpkg-deb --contents "${deb}" OUTPUT_VARIABLE contents)
foreach(path ./usr/bin/corvatel ./usr/bin/corvatel-service ./usr/bin/corvatel-check
             ./usr/share/man/man1/corvatel-check.1.gz ./usr/share/applications/corvatel.desktop
             ./usr/lib/systemd/system/corvatel-service.service ./usr/share/doc/corvatel/copyright)
  string(FIND "${contents}" " ${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${path} is not in the package:\n${contents}")
  endif()
endforeach()
