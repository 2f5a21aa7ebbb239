# Helpers shared by the layers, the tests, the fuzzers and the benchmarks.

# korozia_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [SERVER])
# One Qt Test executable registered with CTest. GUI tests run offscreen and
# every test gets its own configuration and data folders, so no test ever
# touches the user's real aliases. SERVER registers the same program a second
# time as <name>_pg (label "postgresql"), with the alias "kor" on a private
# PostgreSQL server that the test process starts for itself.
file(GLOB KOROZIA_PG_INITDB /usr/lib/postgresql/*/bin/initdb)
function(korozia_add_test name)
  cmake_parse_arguments(T "SERVER" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE testsupport ${T_LIBS} Qt6::Test)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set(variants ${name})
  if(T_SERVER)
    if(KOROZIA_PG_INITDB)
      list(APPEND variants ${name}_pg)
    else()
      message(STATUS "${name}: no PostgreSQL server installed (postgresql-15), so it runs against table files only")
    endif()
  endif()
  foreach(test ${variants})
    add_test(NAME ${test} COMMAND ${name})
    set(home "${CMAKE_BINARY_DIR}/test-home/${test}")
    set(environment "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/runtime;LC_ALL=C.UTF-8;ASAN_OPTIONS=detect_leaks=0")
    if(test STREQUAL "${name}_pg")
      string(APPEND environment ";KOROZIA_TEST_BACKEND=postgresql")
      set_tests_properties(${test} PROPERTIES LABELS postgresql)
    endif()
    set_tests_properties(${test} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
  endforeach()
endfunction()

# korozia_layer(<name> <libraries...>)
# One static library of every source file of the current folder. The files
# are globbed, so a new one needs no edit here; when the list changes the
# target's moc step is made to run again, which Ninja would otherwise not do
# for a header that is new to an existing build.
function(korozia_layer name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  # An executable's main.cpp is not part of its folder's library.
  list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})

  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_sources.txt)
  string(JOIN "\n" content ${sources})
  set(old "")
  if(EXISTS ${list_file})
    file(READ ${list_file} old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE ${list_file} "${content}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp)
  endif()
endfunction()
