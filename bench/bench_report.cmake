# The hazard report on a long Section: first page in the preview, all pages,
# printing to PDF, and the memory its pages take.
korozia_add_benchmark(bench_report SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_report.cpp LIBS reporttestsupport)
