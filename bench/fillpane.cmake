korozia_add_benchmark(bench_fillpane
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fillpane.cpp
  LIBS apptestsupport)
