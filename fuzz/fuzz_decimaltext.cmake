korozia_add_fuzzer(fuzz_decimaltext SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_decimaltext.cpp
                   ${CMAKE_SOURCE_DIR}/tests/data/decimalreference.cpp LIBS data)
target_include_directories(fuzz_decimaltext PRIVATE ${CMAKE_SOURCE_DIR}/tests/data)
