#pragma once

#include "calc/fpu.h"
#include "toolkit/application.h"

#include <benchmark/benchmark.h>

#include <functional>

// The main of a benchmark program over the real windows: the program's
// application object and floating-point setting around the benchmarks;
// `last` runs after them, while the application object still exists (to
// let go of windows kept across benchmarks).
inline int runWindowBenchmarks(int argc, char **argv, const std::function<void()> &last)
{
    toolkit::Application app(argc, argv);
    calc::initFloatingPoint();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    last();
    return 0;
}
