korozia_add_fuzzer(fuzz_floattext SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_floattext.cpp
                   ${CMAKE_SOURCE_DIR}/tests/data/decimalreference.cpp LIBS data)
target_include_directories(fuzz_floattext PRIVATE ${CMAKE_SOURCE_DIR}/tests/data)
