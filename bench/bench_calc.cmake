# "Расчитать" through the main window's menu over large Sections, beside the
# same reads and writes in plain C.
korozia_add_benchmark(bench_calc
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_calc.cpp ${CMAKE_CURRENT_SOURCE_DIR}/sqlitefloor.cpp
  LIBS apptestsupport SQLite::SQLite3)
