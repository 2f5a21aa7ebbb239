# The cursors over the table store against plain SQLite.
korozia_add_benchmark(bench_cursor SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_cursor.cpp LIBS data)
