korozia_add_fuzzer(fuzz_wholenumber SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_wholenumber.cpp
                   ${CMAKE_SOURCE_DIR}/tests/data/decimalreference.cpp LIBS data)
target_include_directories(fuzz_wholenumber PRIVATE ${CMAKE_SOURCE_DIR}/tests/data)
