# Test support: GoogleTest built from the Debian sources for the target, and,
# for the Windows build, test programs run under Wine in a prefix kept inside
# the build tree.

set(FIXWISE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
# The loader for the build's own programs: 64-bit, or 32-bit for the i686
# build. Prefixes are made by the 64-bit loader either way: a 64-bit Windows
# with its 32-bit part (SysWOW64, the 32-bit registry view).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(FIXWISE_WINE /usr/lib/wine/wine CACHE FILEPATH "Wine loader for i686 programs")
else()
  set(FIXWISE_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for x86_64 programs")
endif()
set(FIXWISE_WINE64 /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that makes prefixes")
set(FIXWISE_WINESERVER wineserver CACHE STRING "Wine server")

function(fixwise_use_gtest)
  if(TARGET gtest)
    return()
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  if(FIXWISE_WINDOWS)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(${FIXWISE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
endfunction()

# A native unit test: one program, one CTest test.
function(fixwise_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  fixwise_use_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} fw_testlog gtest gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

if(FIXWISE_WINDOWS AND FIXWISE_RUN_TESTS)
  set(FIXWISE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE @ONLY)

  # One Wine server for the whole run: made persistent at the start (a Wine
  # process then starts in a fraction of a second) and stopped at the end.
  enable_testing()
  add_test(NAME wine_start COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --start)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
  add_test(NAME wine_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --stop)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# A Windows test: one CTest test run under Wine with the real registry, file
# system and DLL loading of the build tree's prefix. With SOURCES it is a test
# program of that name (DEPENDS names the deliverables it loads, so they are
# built first); COMMAND runs something else instead of the bare program (a
# wrapper script around it, or a script that drives the deliverables).
function(fixwise_wine_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;DEPENDS;COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(T_SOURCES)
    fixwise_use_gtest()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest)
    if(T_DEPENDS)
      add_dependencies(${name} ${T_DEPENDS})
    endif()
  endif()
  if(NOT T_COMMAND)
    set(T_COMMAND ${name})
  endif()
  if(FIXWISE_RUN_TESTS)
    add_test(NAME ${name} COMMAND ${T_COMMAND})
    # The tests share one prefix: its registry, drive letters and C:\fwtest.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT}
                                            RESOURCE_LOCK wineprefix)
  endif()
endfunction()

# A libFuzzer target (preset `fuzz`, host clang). Declared next to the tests of
# the code it exercises; built only when FIXWISE_FUZZ is on. Run it as
#   build/fuzz/<dir>/<name> -max_total_time=180 <corpus dir>
function(fixwise_fuzz_target name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT FIXWISE_FUZZ OR FIXWISE_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${T_LIBS})
endfunction()
