# The profile window over a large Section, against reading its rows with SQLite's C API.
korozia_add_benchmark(bench_plot SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plot.cpp LIBS apptestsupport SQLite::SQLite3)
