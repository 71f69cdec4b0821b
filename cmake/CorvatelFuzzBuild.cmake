# cmake -DSOURCE=<tree> -DBINARY=<build dir> -DCXX=<clang++> -P CorvatelFuzzBuild.cmake
# Configures a clang build of the fuzz targets only and builds them. -O1 is what libFuzzer
# builds usually take, and it keeps this step short inside the test suite.
cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DCORVATEL_FUZZ=ON
    -DCORVATEL_BUILD_TESTS=OFF -DCORVATEL_UI=OFF
  RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring the fuzz targets failed")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BINARY} -j${cores} --target corvatel_fuzz
  RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "building the fuzz targets failed")
endif()
