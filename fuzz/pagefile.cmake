# The report page file reader.
korozia_add_fuzzer(fuzz_pagefile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_pagefile.cpp LIBS report)
