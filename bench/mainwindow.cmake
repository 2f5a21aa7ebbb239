korozia_add_benchmark(bench_mainwindow
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow.cpp ${CMAKE_CURRENT_SOURCE_DIR}/sqlitefloor.cpp
  LIBS apptestsupport SQLite::SQLite3)
