# The import and the export through the main window's "Сервис" menu, with
# plain SQLite C floors measured in the same run.
korozia_add_benchmark(bench_exchange
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/exchange.cpp
  LIBS apptestsupport SQLite::SQLite3)
