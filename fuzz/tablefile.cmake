# Table files written by other tools: the store's checks before it changes a
# file, and the reading of what it accepts.
korozia_add_fuzzer(fuzz_tablefile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_tablefile.cpp LIBS store)
if(KOROZIA_FUZZ)
  target_compile_options(store PRIVATE -fsanitize=fuzzer-no-link)
endif()
