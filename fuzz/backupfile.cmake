# A backup file chosen for restoring: the checks that refuse what is not a
# backup of this program, and the reading of what they accept.
korozia_add_fuzzer(fuzz_backupfile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_backupfile.cpp LIBS backup)
if(KOROZIA_FUZZ)
  target_compile_options(backup PRIVATE -fsanitize=fuzzer-no-link)
endif()
