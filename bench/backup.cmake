# Backups of a Section of N Supports: as the clearing takes one, and
# "Создать копию" in the backups window, against SQLite's own backup of both
# files with the C API.
korozia_add_benchmark(bench_backup SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/backup.cpp LIBS apptestsupport backupui SQLite::SQLite3)
