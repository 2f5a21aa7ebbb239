korozia_add_fuzzer(fuzz_smallinttext SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_smallinttext.cpp
                   ${CMAKE_SOURCE_DIR}/tests/data/decimalreference.cpp LIBS data)
target_include_directories(fuzz_smallinttext PRIVATE ${CMAKE_SOURCE_DIR}/tests/data)
