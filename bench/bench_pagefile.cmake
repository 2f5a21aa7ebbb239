# "Load Report" of a large page file in the preview window, beside a plain C
# read of the same file.
korozia_add_benchmark(bench_pagefile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_pagefile.cpp LIBS reporttestsupport)
