#!/usr/bin/env python3
"""Runs every benchmark of the project at 1,000, 10,000 and 100,000 Supports
and writes one Markdown table (BENCHMARKS.md): each figure beside its target
and, where there is one, beside the raw SQLite floor measured in the same run.

    python3 bench/run-all.py [build-folder] [output-file]

The build folder defaults to "build" (configure it with a Release or
RelWithDebInfo build type); the output to BENCHMARKS.md at the top of the tree.
"""
import datetime
import json
import os
import platform
import subprocess
import sys
import tempfile

SIZES = [1000, 10000, 100000]

# (program, benchmark, what it measures, target "size: limit", floor benchmark)
ROWS = [
    ("bench_cursor", "BM_AppendPostInBulkScope", "Append + Post of N Supports in one bulk scope",
     {10000: 100}, "BM_RawSqliteInsert"),
    ("bench_cursor", "BM_WalkEditPostInBulkScope", "Walk N Supports: Next + Edit/Post of U_ras",
     {10000: 100}, "BM_RawSqliteUpdate"),
    ("bench_cursor", "BM_SinglePost", "One durable Post (its own commit)", {}, None),
    ("bench_cursor", "BM_SetRecNoRandom", "RecNo := a random position, N-support section",
     {100000: 1}, None),
    ("bench_cursor", "BM_RecordCount", "RecordCount, N-support section", {100000: 1}, None),
    ("bench_cursor", "BM_OpenBothTables", "Opening both tables, N Supports in the first Section",
     {100000: 200}, None),
    ("bench_cursor", "BM_RawSqliteInsert", "SQLite floor: N rows inserted in one transaction", {}, None),
    ("bench_cursor", "BM_RawSqliteUpdate", "SQLite floor: N rows updated in one transaction", {}, None),
    ("bench_fillpane", "BM_Fill", "Fill pane: a run of N Supports, one repaint", {10000: 150}, "BM_RawSqliteInsert"),
    ("bench_fillpane", "BM_Clear", "Clear pane: N Supports deleted, one repaint", {10000: 150}, None),
    ("bench_calc", "BM_Calculate", "\"Расчитать\", one Support in 100 measured",
     {10000: 150, 100000: 1500}, "BM_RawSqliteUpdate"),
    ("bench_report", "BM_FirstPageVisible", "\"Печать\": page 1 visible in the preview", {10000: 200}, None),
    ("bench_report", "BM_AllPagesInPreview", "\"Печать\": all pages generated", {10000: 1500}, None),
    ("bench_report", "BM_PrintToPdf", "The report printed to PDF", {10000: 3000}, None),
    ("bench_mainwindow", "BM_WindowShownAfterStart", "Main window shown after start, N Supports",
     {100000: 500}, None),
    ("bench_mainwindow", "BM_End", "End in the support grid: move and repaint", {100000: 20}, None),
    ("bench_mainwindow", "BM_Home", "Home in the support grid: move and repaint", {100000: 20}, None),
    ("bench_mainwindow", "BM_PageDown", "Page Down in the support grid: move and repaint", {100000: 20}, None),
    ("bench_plot", "BM_OpenProfile", "\"График участка...\": the profile window opened and painted",
     {10000: 150, 100000: 1000}, "BM_ReadSectionFloor"),
    ("bench_plot", "BM_UpdateAfterCalculate", "Profile brought up to date and repainted after \"Расчитать\"",
     {100000: 300}, "BM_ReadSectionFloor"),
    ("bench_plot", "BM_PanFrame", "Profile: one frame of dragging, half the Section shown", {100000: 50}, None),
    ("bench_plot", "BM_ZoomFrame", "Profile: one frame of the wheel, half the Section shown", {100000: 50}, None),
    ("bench_plot", "BM_ReadSectionFloor", "SQLite floor: a Section's rows read in chainage order (C API)", {}, None),
    ("bench_exchange", "BM_ImportThroughTheMenu", "\"Импорт опор...\": N rows parsed, checked and written",
     {100000: 1000}, "BM_ImportFloor"),
    ("bench_exchange", "BM_ExportCsvThroughTheMenu", "\"Экспорт...\": N Supports to CSV", {100000: 500},
     "BM_ExportFloor"),
    ("bench_exchange", "BM_ExportXlsxThroughTheMenu", "\"Экспорт...\": N Supports to XLSX", {100000: 1500},
     "BM_ExportFloor"),
    ("bench_exchange", "BM_ImportFloor", "SQLite C floor: the import's rows inserted in one transaction", {}, None),
    ("bench_exchange", "BM_ExportFloor", "SQLite C floor: N rows read and written as CSV with stdio", {}, None),
    ("bench_pagefile", "BM_LoadReport", "\"Load Report\" of a page file of 1 KB per Support, smallest items",
     {100000: 2000}, "BM_RawReadPageFile"),
    ("bench_pagefile", "BM_RawReadPageFile", "Floor: the same page file read in 1 MB chunks with plain C", {}, None),
    ("bench_server", "BM_ServerFill", "Server alias: Append + Post of N Supports in one bulk scope",
     {10000: 1000}, "BM_LibpqInsertFloor"),
    ("bench_server", "BM_ServerCalculate", "Server alias: \"Расчитать\", every Support written",
     {10000: 1500}, "BM_LibpqUpdateFloor"),
    ("bench_server", "BM_ServerOpenSection", "Server alias: opening both tables, N Supports in the Section",
     {100000: 1000}, "BM_LibpqReadSectionFloor"),
    ("bench_server", "BM_ServerSinglePost", "Server alias: one Post (its own commit)", {10000: 5},
     "BM_LibpqSinglePostFloor"),
    ("bench_server", "BM_LibpqInsertFloor", "libpq floor: N rows inserted, pipelined, one transaction", {}, None),
    ("bench_server", "BM_LibpqUpdateFloor", "libpq floor: N rows updated by key, pipelined, one transaction", {},
     None),
    ("bench_server", "BM_LibpqReadSectionFloor", "libpq floor: a Section of N rows read in order, binary", {},
     None),
    ("bench_server", "BM_LibpqSinglePostFloor", "libpq floor: one INSERT ... RETURNING", {}, None),
]

UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}


def run(build, program, size):
    """The benchmark results of one program at one size, and its peak memory in MB."""
    path = os.path.join(build, "bench", program)
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "offscreen",
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "XDG_DATA_HOME": os.path.join(home, "data"),
            "XDG_RUNTIME_DIR": home,
            "KOROZIA_BENCH_SIZE": str(size),
        })
        env.pop("KOROZIA_BENCH_SMOKE", None)
        out = os.path.join(home, "out.json")
        proc = subprocess.Popen([path, "--benchmark_format=json", "--benchmark_out=" + out,
                                 "--benchmark_out_format=json", "--benchmark_min_time=0.3"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        if status != 0 or not os.path.exists(out):
            print(f"  {program} at {size}: failed ({status})", file=sys.stderr)
            return {}, None
        with open(out) as f:
            data = json.load(f)
    results = {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        name = b["name"].split("/")[0]
        results[name] = b["real_time"] * UNIT_TO_MS[b.get("time_unit", "ns")]
        for counter in ("page_MB", "rss_after_1_kB", "rss_after_20_kB", "import_MB"):
            if counter in b:
                results[name + ":" + counter] = b[counter]
    return results, usage.ru_maxrss / 1024.0


def machine():
    cpu = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "?"
    try:
        with open("/proc/meminfo") as f:
            mem = "%.0f GiB" % (int(f.readline().split()[1]) / 1024 / 1024)
    except OSError:
        pass
    osname = "?"
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    osname = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    return f"{cpu}, {os.cpu_count()} cores, {mem} RAM; {osname}, Linux {platform.release()}"


def figure(ms):
    if ms is None:
        return "—"
    if ms < 1:
        return "%.3f ms" % ms
    if ms < 100:
        return "%.1f ms" % ms
    return "%.0f ms" % ms


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    target = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "BENCHMARKS.md")
    programs = sorted({r[0] for r in ROWS})
    results = {}
    memory = {}
    for program in programs:
        for size in SIZES:
            print(f"{program} at {size} Supports ...", file=sys.stderr)
            results[(program, size)], memory[(program, size)] = run(build, program, size)

    lines = [
        "# Benchmarks",
        "",
        f"Measured {datetime.date.today().isoformat()} by `python3 bench/run-all.py` on: {machine()}.",
        "The machine is shared, so figures move by a few tens of per cent from run to run.",
        "Times are the benchmark's real time per iteration (Google Benchmark, offscreen Qt).",
        "The ratio compares a figure with the plain-SQL floor of the same size measured in the",
        "same run (the same number of rows inserted or updated in one transaction through QSqlQuery).",
        "",
        "| What | 1,000 | 10,000 | 100,000 | Target | Ratio to the SQLite floor |",
        "|---|---|---|---|---|---|",
    ]
    for program, name, what, targets, floor in ROWS:
        cells = []
        for size in SIZES:
            ms = results[(program, size)].get(name)
            text = figure(ms)
            limit = targets.get(size)
            if ms is not None and limit is not None:
                text += " ✓" if ms <= limit else " ✗"
            cells.append(text)
        goal = ", ".join(f"≤ {figure(v)} at {k:,}" for k, v in sorted(targets.items())) or "—"
        ratio = "—"
        if floor:
            parts = []
            for size in SIZES:
                ours = results[(program, size)].get(name)
                # A floor measured by the same program comes first, else bench_cursor's.
                base = results[(program, size)].get(floor) or results[("bench_cursor", size)].get(floor)
                if ours and base:
                    parts.append("%.1f×" % (ours / base))
            ratio = " / ".join(parts) + f" ({floor})" if parts else "—"
        lines.append(f"| {what} (`{program}` {name}) | " + " | ".join(cells) + f" | {goal} | {ratio} |")
    lines += ["", "Peak resident memory of each benchmark program (the whole process, data set up included):", "",
              "| Program | 1,000 | 10,000 | 100,000 |", "|---|---|---|---|"]
    for program in programs:
        cells = ["%.0f MB" % memory[(program, s)] if memory[(program, s)] else "—" for s in SIZES]
        lines.append(f"| `{program}` | " + " | ".join(cells) + " |")
    def counter(program, key, scale=1.0):
        values = []
        for size in SIZES:
            v = results[(program, size)].get(key)
            values.append("%.1f MB" % (v * scale) if v is not None else "—")
        return values
    lines += ["", "| Memory | 1,000 | 10,000 | 100,000 | Target |", "|---|---|---|---|---|",
              "| The report's generated pages (`bench_report` page_MB) | "
              + " | ".join(counter("bench_report", "BM_AllPagesInPreview:page_MB")) + " | ≤ 150 MB at 10,000 |",
              "| Resident memory after 1 run of \"Расчитать\" (`bench_calc`) | "
              + " | ".join(counter("bench_calc", "BM_MemoryAcrossRuns:rss_after_1_kB", 1 / 1024)) + " | — |",
              "| Resident memory after 20 runs of \"Расчитать\" | "
              + " | ".join(counter("bench_calc", "BM_MemoryAcrossRuns:rss_after_20_kB", 1 / 1024))
              + " | does not grow with runs |",
              "| Resident memory an import adds at its peak (`bench_exchange` import_MB) | "
              + " | ".join(counter("bench_exchange", "BM_ImportThroughTheMenu:import_MB"))
              + " | ≤ 50 MB at 100,000 |", ""]
    with open(target, "w") as f:
        f.write("\n".join(lines))
    print(f"wrote {target}", file=sys.stderr)


if __name__ == "__main__":
    main()
