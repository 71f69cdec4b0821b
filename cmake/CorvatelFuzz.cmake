# Runs each libFuzzer target (tools/fuzz/fuzz_*.cpp) for a short while against its seeds in
# tests/fuzz/, when clang with libFuzzer is on the machine. The targets need clang, so they build
# in a tree of their own below this one (test "fuzz_build"), which the fuzz tests wait for.
# Skipped in the sanitizer build (one pass is enough) and without clang or libFuzzer.
if(CORVATEL_FUZZ OR CORVATEL_SANITIZE)
  return()
endif()

set(CORVATEL_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz target runs in the test suite")

if(NOT DEFINED CACHE{CORVATEL_FUZZ_CLANGXX})
  find_program(clangxx NAMES clang++)
  set(works OFF)
  if(clangxx)
    # A compiler alone is not enough: Debian ships libFuzzer's runtime with the clang package,
    # other systems may not.
    set(probe ${CMAKE_BINARY_DIR}/fuzz-probe)
    file(WRITE ${probe}/probe.cpp
      "#include <cstddef>\n#include <cstdint>\n"
      "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
    execute_process(
      COMMAND ${clangxx} -fsanitize=fuzzer,address,undefined probe.cpp -o probe
      WORKING_DIRECTORY ${probe} RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
    if(probe_result EQUAL 0)
      set(works ON)
    endif()
    file(REMOVE_RECURSE ${probe})
  endif()
  if(works)
    set(CORVATEL_FUZZ_CLANGXX ${clangxx} CACHE INTERNAL "clang++ that links libFuzzer")
  else()
    set(CORVATEL_FUZZ_CLANGXX "" CACHE INTERNAL "clang++ that links libFuzzer")
  endif()
  unset(clangxx CACHE)
endif()

if(NOT CORVATEL_FUZZ_CLANGXX)
  message(STATUS "Fuzz tests skipped: no clang++ with libFuzzer")
  return()
endif()

set(fuzz_tree ${CMAKE_BINARY_DIR}/fuzz-tree)
add_test(NAME fuzz_build
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DBINARY=${fuzz_tree}
    -DCXX=${CORVATEL_FUZZ_CLANGXX} -P ${PROJECT_SOURCE_DIR}/cmake/CorvatelFuzzBuild.cmake)
set_tests_properties(fuzz_build PROPERTIES FIXTURES_SETUP fuzz_targets TIMEOUT 1500 LABELS fuzz)

file(GLOB fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/fuzz/fuzz_*.cpp)
foreach(src IN LISTS fuzz_sources)
  get_filename_component(target ${src} NAME_WE)
  # New inputs go to a corpus folder in the build tree; the seeds in the source tree stay as
  # they are. A finding is written into the test's working folder.
  set(work ${CMAKE_BINARY_DIR}/test-work/${target})
  file(MAKE_DIRECTORY ${work}/corpus)
  add_test(NAME ${target}
    COMMAND ${fuzz_tree}/bin/${target} -max_total_time=${CORVATEL_FUZZ_SECONDS} -timeout=30
      -rss_limit_mb=4096 -max_len=9000 -print_final_stats=1
      ${work}/corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/${target}
    WORKING_DIRECTORY ${work})
  set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED fuzz_targets
    TIMEOUT 300 LABELS fuzz)
endforeach()
