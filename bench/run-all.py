#!/usr/bin/env python3
"""Runs every benchmark of the project at 1,000, 10,000 and 100,000 Supports
(and some at 1,000,000), each repeated REPETITIONS times, and writes one
Markdown table (BENCHMARKS.md): the median and the minimum of each figure
beside its target and, where there is one, its ratio to the floor measured in
the same program run.

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
# Programs also run at these sizes, shown in a table of their own.
EXTRA_SIZES = {"bench_mainwindow": [1000000]}
REPETITIONS = 5

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
    ("bench_mainwindow", "BM_StartUpFloor", "SQLite C floor: start-up's reads (both files checked, keys read in order)",
     {}, None),
    ("bench_cursor", "BM_OpenBothTables", "Opening both tables, N Supports in the first Section",
     {100000: 200}, None),
    ("bench_cursor", "BM_RawSqliteInsert", "SQLite floor: N rows inserted in one transaction", {}, None),
    ("bench_cursor", "BM_RawSqliteUpdate", "SQLite floor: N rows updated in one transaction", {}, None),
    ("bench_fillpane", "BM_Fill", "Fill pane: a run of N Supports, one repaint", {10000: 150}, "BM_RawSqliteInsert"),
    ("bench_fillpane", "BM_Clear", "Clear pane: N Supports deleted, one repaint", {10000: 150}, None),
    ("bench_calc", "BM_Calculate", "\"Расчитать\" from the main window's menu, one Support in 100 measured",
     {10000: 150, 100000: 600}, "BM_CalculateFloor"),
    ("bench_calc", "BM_CalculateAgain", "\"Расчитать\" again on unchanged values",
     {100000: 600}, "BM_CalculateFloor"),
    ("bench_calc", "BM_CalculateFloor", "SQLite C floor: the Section read in order, U_ras and I_opory updated, one transaction",
     {}, None),
    ("bench_print", "BM_PrintAllPagesWindowShown", "\"Печать\" from the menu, main window shown: all pages in the preview",
     {10000: 1000}, "BM_PrintAllPagesWindowHidden"),
    ("bench_print", "BM_PrintAllPagesWindowHidden", "\"Печать\" from the menu, main window hidden: all pages in the preview",
     {}, "BM_PrintReadFloor"),
    ("bench_print", "BM_PrintFirstPageWindowShown", "\"Печать\" from the menu, main window shown: page 1 visible",
     {10000: 200}, None),
    ("bench_print", "BM_PrintReadFloor", "SQLite C floor: the Section's rows, every field, read in chainage order", {}, None),
    ("bench_report", "BM_FirstPageVisible", "\"Печать\": page 1 visible in the preview", {10000: 200}, None),
    ("bench_report", "BM_AllPagesInPreview", "\"Печать\": all pages generated", {10000: 1500}, None),
    ("bench_report", "BM_PrintToPdf", "The report printed to PDF", {10000: 3000}, None),
    ("bench_mainwindow", "BM_WindowShownAfterStart", "Main window shown after start, N Supports",
     {100000: 150, 1000000: 1000}, "BM_StartUpFloor"),
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
    ("bench_backup", "BM_BackupBeforeClearing", "A backup of N Supports, as the clearing takes it",
     {100000: 500}, "BM_BackupFloor"),
    ("bench_backup", "BM_CreateCopyInTheWindow", "\"Создать копию\" in the backups window, list included",
     {100000: 500}, "BM_BackupFloor"),
    ("bench_backup", "BM_BackupFloor", "SQLite C floor: sqlite3_backup_* of both table files", {}, None),
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
                                 "--benchmark_out_format=json", "--benchmark_min_time=0.3",
                                 f"--benchmark_repetitions={REPETITIONS}"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        if status != 0 or not os.path.exists(out):
            print(f"  {program} at {size}: failed ({status})", file=sys.stderr)
            return {}, None
        with open(out) as f:
            data = json.load(f)
    times = {}
    results = {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred") or b.get("run_type", "iteration") != "iteration":
            continue
        name = b["name"].split("/")[0]
        times.setdefault(name, []).append(b["real_time"] * UNIT_TO_MS[b.get("time_unit", "ns")])
        for counter in ("page_MB", "rss_after_1_kB", "rss_after_20_kB", "import_MB", "rss_MB",
                        "page_bytes_per_support"):
            if counter in b:
                results[name + ":" + counter] = b[counter]
    for name, values in times.items():
        values.sort()
        results[name] = values[len(values) // 2]  # the median
        results[name + ":min"] = values[0]
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
    # KOROZIA_BENCH_PROGRAMS=bench_server,bench_calc runs only those (rows of
    # the others show "—"), for measuring again what one change touched.
    only = [p for p in os.environ.get("KOROZIA_BENCH_PROGRAMS", "").split(",") if p]
    if only:
        programs = [p for p in programs if p in only]
    results = {}
    memory = {}
    for program in programs:
        for size in SIZES:
            print(f"{program} at {size} Supports ...", file=sys.stderr)
            results[(program, size)], memory[(program, size)] = run(build, program, size)
        for size in EXTRA_SIZES.get(program, []):
            print(f"{program} at {size} Supports ...", file=sys.stderr)
            results[(program, size)], memory[(program, size)] = run(build, program, size)

    lines = [
        "# Benchmarks",
        "",
        f"Measured {datetime.date.today().isoformat()} by `python3 bench/run-all.py` on: {machine()}.",
        "The machine is shared, so figures move by a few tens of per cent from run to run.",
        "Times are the benchmark's real time per iteration (Google Benchmark, offscreen Qt).",
        f"Each cell is the median of {REPETITIONS} repetitions and, in brackets, the fastest of them.",
        "The ratio compares a median with the median of the floor named beside it, of the same size",
        "and measured in the same program run: plain C over SQLite's interface doing the same reads and",
        "writes (bench_cursor's older floors go through QSqlQuery), or, for \"Печать\" with the main",
        "window shown, the same report with the main window hidden.",
        "",
        "| What | 1,000 | 10,000 | 100,000 | Target | Ratio to the SQLite floor |",
        "|---|---|---|---|---|---|",
    ]
    def cell(program, name, size, targets):
        ms = results.get((program, size), {}).get(name)
        text = figure(ms)
        if ms is not None:
            text += " (%s)" % figure(results[(program, size)].get(name + ":min"))
        limit = targets.get(size)
        if ms is not None and limit is not None:
            text += " ✓" if ms <= limit else " ✗"
        return text

    def ratio_of(program, name, floor, sizes):
        parts = []
        for size in sizes:
            ours = results.get((program, size), {}).get(name)
            # A floor measured by the same program comes first, else bench_cursor's.
            base = results.get((program, size), {}).get(floor) or results.get(("bench_cursor", size), {}).get(floor)
            if ours and base:
                parts.append("%.1f×" % (ours / base))
        return " / ".join(parts) + f" ({floor})" if parts else "—"

    for program, name, what, targets, floor in ROWS:
        cells = [cell(program, name, size, targets) for size in SIZES]
        goal = ", ".join(f"≤ {figure(v)} at {k:,}" for k, v in sorted(targets.items())) or "—"
        ratio = ratio_of(program, name, floor, SIZES) if floor else "—"
        lines.append(f"| {what} (`{program}` {name}) | " + " | ".join(cells) + f" | {goal} | {ratio} |")
    for program, sizes in EXTRA_SIZES.items():
        heads = " | ".join(f"{size:,}" for size in sizes)
        lines += ["", f"`{program}` at larger sizes:", "", f"| What | {heads} | Target | Ratio |",
                  "|---|" + "---|" * len(sizes) + "---|---|"]
        for row_program, name, what, targets, floor in ROWS:
            if row_program != program:
                continue
            cells = [cell(program, name, size, targets) for size in sizes]
            goal = ", ".join(f"≤ {figure(v)} at {k:,}" for k, v in sorted(targets.items()) if k in sizes) or "—"
            ratio = ratio_of(program, name, floor, sizes) if floor else "—"
            rss = results.get((program, sizes[-1]), {}).get(name + ":rss_MB")
            if rss:
                what += " — resident %.0f MB" % rss
            lines.append(f"| {what} (`{name}`) | " + " | ".join(cells) + f" | {goal} | {ratio} |")
    lines += ["", "Peak resident memory of each benchmark program (the whole process, data set up included):", "",
              "| Program | 1,000 | 10,000 | 100,000 |", "|---|---|---|---|"]
    for program in programs:
        cells = ["%.0f MB" % memory[(program, s)] if memory.get((program, s)) else "—" for s in SIZES]
        lines.append(f"| `{program}` | " + " | ".join(cells) + " |")
    def counter(program, key, scale=1.0):
        values = []
        for size in SIZES:
            v = results.get((program, size), {}).get(key)
            values.append("%.1f MB" % (v * scale) if v is not None else "—")
        return values
    lines += ["", "| Memory | 1,000 | 10,000 | 100,000 | Target |", "|---|---|---|---|---|",
              "| The report's generated pages (`bench_report` page_MB) | "
              + " | ".join(counter("bench_report", "BM_AllPagesInPreview:page_MB")) + " | ≤ 150 MB at 10,000 |",
              "| The report's pages per Support, in KB (`bench_print` page_bytes_per_support) | "
              + " | ".join(counter("bench_print", "BM_PrintAllPagesWindowShown:page_bytes_per_support", 1 / 1024)
                           ).replace(" MB", " KB") + " | ≤ 0.5 KB |",
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
