"""The table of the benchmark rows, for scripts/bench.

    results.py table ROWS.tsv RUNS SECONDS LOAD_START LOAD_END PROCESSORS
        the Markdown table of the rows
"""

import datetime
import sys

# The fields of a row, in the order the harness writes them (benchmarks/support/Bench.cpp, Row).
FIELDS = ["id", "operation", "input", "threads", "timing", "ours_min", "ours_median", "peer", "peer_min",
          "peer_median", "ratio_min", "ratio_median", "ours_peak", "peer_peak", "load_start", "load_end", "check",
          "ours_running", "ours_cpu", "peer_running", "peer_cpu", "ours_startup", "peer_startup", "bare_min",
          "bare_median"]


def seconds(v):
    v = float(v)
    if v >= 1.0:
        return f"{v:.3g} s"
    if v >= 1e-3:
        return f"{v * 1e3:.3g} ms"
    return f"{v * 1e6:.3g} µs"


def cell(text):
    return str(text).replace("|", "\\|")


def threads(given, running, cpu):
    """The threads a side was given, and those it really used: the most it had running at once, and
    its CPU time over its wall time."""
    return f"{given} / {running} ({float(cpu):.1f})"


def startup(r):
    """The start-ups of the sides that have one, and the ratio without them; empty when neither has."""
    parts = []
    if float(r["ours_startup"]) > 0:
        parts.append(f"ours {seconds(r['ours_startup'])}")
    if float(r["peer_startup"]) > 0:
        parts.append(f"peer {seconds(r['peer_startup'])}")
    if not parts:
        return ""
    return f"{', '.join(parts)}; ratio without {float(r['bare_min']):.3g}, {float(r['bare_median']):.3g}"


def row_of(line):
    values = line.rstrip("\n").split("\t")
    # Rows of an older harness lack the last fields.
    values += ["0"] * (len(FIELDS) - len(values))
    return dict(zip(FIELDS, values))


def table(path, runs, elapsed, load_start, load_end, processors):
    with open(path, encoding="utf-8") as f:
        rows = [row_of(line) for line in f if line.strip()]
    now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    print("# Benchmark results\n")
    print(f"Written by `scripts/bench` on {now}: {processors} processors, load average (1 minute) "
          f"{float(load_start):.1f} at the start and {float(load_end):.1f} at the end, "
          f"{int(elapsed) // 60} min {int(elapsed) % 60} s in all.\n")
    counted = "once" if int(runs) == 1 else f"{runs} times"
    print(f"Each pair ran both sides once for the check (not counted), then {counted} in turn, ours then "
          "the peer. Times are the minimum and the median of the counted runs: of the whole processes "
          "(\"process\") or of the operation inside each side's process (\"operation\"). The ratio is ours / "
          "peer, run by run: below 1 ours is faster. Peak memory is each side's whole process, in MiB. "
          "Threads, for each side, given / used: given, the threads the side was told to use and the "
          "number of processors its processes were pinned to (the same processors for both sides); used, "
          "what the side really used, measured: the most threads its processes had running or ready to "
          "run at once (sampled every 5 ms), and in parentheses its CPU time over its wall time (the "
          "median of the runs). A side that used more threads than it was given fails its row (OVER "
          "THREADS in the check). Start-up: the median time of a side's program doing nothing but start "
          "(Python's interpreter with the same imports), timed in turn with the sides, and the ratio "
          "with the start-up taken off each side that has one (the other side's time stays whole), run "
          "by run (a run whose start-up took as long as the whole side, on a busy machine, left out). "
          "Load: the 1-minute load average when the pair started and ended. Check: how the two results agreed.\n")
    print("| operation | input | threads ours, given / used | threads peer, given / used | timed "
          "| ours (min, median) | peer | peer (min, median) | ratio (min, median) | start-up "
          "| peak MiB ours / peer | load | check |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        if r.get("check", "").startswith("FAILED"):
            print(f"| {cell(r['operation'] or r['id'])} | {cell(r['input'])} | | | | | {cell(r['peer'])} "
                  f"| | | | | {float(r['load_start']):.1f} | {cell(r['check'])} |")
            continue
        alone = not r["peer"]
        peer_threads = "" if alone else threads(r["threads"], r["peer_running"], r["peer_cpu"])
        peer_times = "" if alone else f"{seconds(r['peer_min'])}, {seconds(r['peer_median'])}"
        ratio = "" if alone else f"{float(r['ratio_min']):.3g}, {float(r['ratio_median']):.3g}"
        peaks = f"{float(r['ours_peak']):.0f}" + ("" if alone else f" / {float(r['peer_peak']):.0f}")
        print(f"| {cell(r['operation'])} | {cell(r['input'])} "
              f"| {threads(r['threads'], r['ours_running'], r['ours_cpu'])} | {peer_threads} "
              f"| {r['timing']} | {seconds(r['ours_min'])}, {seconds(r['ours_median'])} | {cell(r['peer'])} "
              f"| {peer_times} | {ratio} | {startup(r)} | {peaks} "
              f"| {float(r['load_start']):.1f}–{float(r['load_end']):.1f} | {cell(r['check'])} |")


if __name__ == "__main__":
    if sys.argv[1] == "table":
        table(*sys.argv[2:8])
    else:
        sys.exit(__doc__)
