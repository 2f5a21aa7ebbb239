korozia_add_benchmark(bench_mainwindow
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow.cpp
  LIBS apptestsupport)
