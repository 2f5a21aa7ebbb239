# "Расчитать" over large Sections.
korozia_add_benchmark(bench_calc SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_calc.cpp LIBS calc)
