korozia_add_fuzzer(fuzz_rendermask SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_rendermask.cpp
                   ${CMAKE_SOURCE_DIR}/tests/data/decimalreference.cpp LIBS data)
target_include_directories(fuzz_rendermask PRIVATE ${CMAKE_SOURCE_DIR}/tests/data)
