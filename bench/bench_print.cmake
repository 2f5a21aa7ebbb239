# "Печать" as the user runs it: the main window's menu item with the main
# window shown (and, to compare, hidden), the preview open.
korozia_add_benchmark(bench_print
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_print.cpp ${CMAKE_CURRENT_SOURCE_DIR}/sqlitefloor.cpp
  LIBS apptestsupport SQLite::SQLite3)
