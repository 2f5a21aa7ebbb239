# The store on a PostgreSQL server (the tests' private server), against libpq floors.
korozia_add_benchmark(bench_server SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/server.cpp LIBS calc)
