# The report page file reader. In fuzzing builds the report library itself
# carries the coverage instrumentation, so the search is guided by the
# reader's branches and not only by the target's own.
korozia_add_fuzzer(fuzz_pagefile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_pagefile.cpp LIBS report)
if(KOROZIA_FUZZ)
  target_compile_options(report PRIVATE -fsanitize=fuzzer-no-link)
endif()
