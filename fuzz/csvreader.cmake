# The import's CSV reader with its encoding, separator and heading detection.
# In fuzzing builds the exchange library carries the coverage instrumentation.
korozia_add_fuzzer(fuzz_csvreader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_csvreader.cpp LIBS exchange)
if(KOROZIA_FUZZ)
  target_compile_options(exchange PRIVATE -fsanitize=fuzzer-no-link)
endif()
