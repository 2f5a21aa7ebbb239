# Helpers shared by the layers, the tests, the fuzzers and the benchmarks.

# korozia_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
# One Qt Test executable registered with CTest. GUI tests run offscreen and
# every test gets its own configuration and data folders, so no test ever
# touches the user's real aliases.
function(korozia_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE testsupport ${T_LIBS} Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set(home "${CMAKE_BINARY_DIR}/test-home/${name}")
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/runtime;LC_ALL=C.UTF-8;ASAN_OPTIONS=detect_leaks=0")
endfunction()
