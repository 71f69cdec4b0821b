# corvatel_add_test(NAME SOURCES file... LIBS lib...)
# One QtTest executable per class; runs headless with its own configuration
# folder and working directory, so no test sees another's settings or proxy.lst.
function(corvatel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    CORVATEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(work ${CMAKE_BINARY_DIR}/test-work/${name})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${work})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # LeakSanitizer looks at every test. What it may pass over is only the one-time allocations of
  # Qt and the system libraries below it, listed in tests/lsan.supp.
  set(sanitizer_env "ASAN_OPTIONS=detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  if(name STREQUAL "tst_Soak")
    # About two minutes; a sanitizer build on a busy machine needs more, a hang far more.
    set(T_TIMEOUT 900)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${work}/config;${sanitizer_env}")
endfunction()
