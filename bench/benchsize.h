#pragma once

#include <QtGlobal>
#include <benchmark/benchmark.h>

// The number of Supports a benchmark works on: KOROZIA_BENCH_SIZE when it is
// set (bench/run-all.py runs every program at 1,000, 10,000 and 100,000),
// the small smoke size in the CTest smoke run (KOROZIA_BENCH_SMOKE), else
// the benchmark's own size.
inline int benchSize(int own, int smoke)
{
    bool ok = false;
    const int size = qEnvironmentVariableIntValue("KOROZIA_BENCH_SIZE", &ok);
    if (ok && size > 0)
        return size;
    return qEnvironmentVariableIsSet("KOROZIA_BENCH_SMOKE") ? smoke : own;
}

// Runs a program's benchmarks with the application object of its kind.
template <typename Application> int runBenchmarks(int argc, char **argv)
{
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
