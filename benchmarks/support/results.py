"""The table of the benchmark rows, for scripts/bench.

    results.py table ROWS.tsv RUNS SECONDS LOAD_START LOAD_END PROCESSORS
        the Markdown table of the rows
"""

import datetime
import sys

FIELDS = ["id", "operation", "input", "threads", "timing", "ours_min", "ours_median", "peer", "peer_min",
          "peer_median", "ratio_min", "ratio_median", "ours_peak", "peer_peak", "load_start", "load_end", "check"]


def seconds(v):
    v = float(v)
    if v >= 1.0:
        return f"{v:.3g} s"
    if v >= 1e-3:
        return f"{v * 1e3:.3g} ms"
    return f"{v * 1e6:.3g} µs"


def cell(text):
    return str(text).replace("|", "\\|")


def table(path, runs, elapsed, load_start, load_end, processors):
    with open(path, encoding="utf-8") as f:
        rows = [dict(zip(FIELDS, line.rstrip("\n").split("\t"))) for line in f if line.strip()]
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
          "Threads: what both sides ran with. Load: the 1-minute load average when the pair started and "
          "ended. Check: how the two results agreed.\n")
    print("| operation | input | threads | timed | ours (min, median) | peer | peer (min, median) "
          "| ratio (min, median) | peak MiB ours / peer | load | check |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        if r.get("check", "").startswith("FAILED"):
            print(f"| {cell(r['operation'] or r['id'])} | {cell(r['input'])} | | | | {cell(r['peer'])} | | | | "
                  f"{float(r['load_start']):.1f} | {cell(r['check'])} |")
            continue
        print(f"| {cell(r['operation'])} | {cell(r['input'])} | {r['threads']} | {r['timing']} "
              f"| {seconds(r['ours_min'])}, {seconds(r['ours_median'])} | {cell(r['peer'])} "
              f"| {seconds(r['peer_min'])}, {seconds(r['peer_median'])} "
              f"| {float(r['ratio_min']):.3g}, {float(r['ratio_median']):.3g} "
              f"| {float(r['ours_peak']):.0f} / {float(r['peer_peak']):.0f} "
              f"| {float(r['load_start']):.1f}–{float(r['load_end']):.1f} | {cell(r['check'])} |")


if __name__ == "__main__":
    if sys.argv[1] == "table":
        table(*sys.argv[2:8])
    else:
        sys.exit(__doc__)
