"""The table of the benchmark rows, for scripts/bench.

    results.py google ID FILE.json LOAD_BEFORE LOAD_AFTER THREADS
        the rows of a Google Benchmark program, as the harness writes them: the repetitions of
        "<name>/ours" against those of every "<name>/<peer>" of the same name
    results.py own ID FILE LOAD_BEFORE LOAD_AFTER THREADS
        the rows of a program that runs its pairs itself, from its lines "NAME N cells  ours S s
        (min S)  peer S s (min S)  ratio R (min R)  peak MiB ours M peer M", each followed by the
        indented lines that judge its results
    results.py table ROWS.tsv RUNS SECONDS LOAD_START LOAD_END PROCESSORS
        the Markdown table of the rows
"""

import datetime
import json
import re
import statistics
import sys

FIELDS = ["id", "operation", "input", "threads", "timing", "ours_min", "ours_median", "peer", "peer_min",
          "peer_median", "ratio_min", "ratio_median", "ours_peak", "peer_peak", "load_start", "load_end", "check"]


OWN_LINE = re.compile(r"^(\S+)\s+(\d+) cells\s+ours\s+([\d.]+) s \(min\s+([\d.]+)\)\s+peer\s+([\d.]+) s "
                      r"\(min\s+([\d.]+)\)\s+ratio\s+([\d.]+) \(min\s+([\d.]+)\)\s+peak MiB ours\s+([\d.]+) "
                      r"peer\s+([\d.]+)")


# The heading line of such a program: "<operation>, ours against <peer>, <N> threads each, ...".
OWN_HEADING = re.compile(r"^(.+?), ours against (.+?), (\d+) threads each")


def own_rows(ident, path, load_before, load_after, threads):
    rows = []
    operation, peer = ident, "peer"
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = OWN_LINE.match(line)
            heading = OWN_HEADING.match(line)
            if heading:
                operation, peer, threads = heading.group(1).capitalize(), heading.group(2), heading.group(3)
            elif m:
                name, cells, ours_med, ours_min, peer_med, peer_min, ratio_med, ratio_min, ours_peak, peer_peak = m.groups()
                rows.append([ident, f"{operation} ({name})", f"{cells} cells", threads, "process",
                             ours_min, ours_med, peer, peer_min, peer_med, ratio_min, ratio_med, ours_peak, peer_peak,
                             load_before, load_after, []])
            elif rows and line.startswith("  "):
                rows[-1][-1].append(" ".join(line.split()))
    for row in rows:
        row[-1] = "; ".join(row[-1]) or "not checked"
        print("\t".join(str(v) for v in row))


def google_rows(ident, path, load_before, load_after, threads="-"):
    with open(path, encoding="utf-8") as f:
        runs = [b for b in json.load(f)["benchmarks"] if b.get("run_type") == "iteration" and not b.get("error_occurred")]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    families = {}
    for run in runs:
        family, side = (run["run_name"].split("/") + [""])[:2]
        entry = families.setdefault(family, {}).setdefault(side, {"times": [], "peaks": []})
        entry["times"].append(run["real_time"] * scale[run["time_unit"]])
        entry["peaks"].append(run.get("peak_MiB", 0.0))
    for family, sides in families.items():
        ours = sides.pop("ours", None)
        if not ours:
            continue
        for peer, theirs in sides.items():
            ratios = [a / b for a, b in zip(ours["times"], theirs["times"]) if b > 0]
            row = [ident, family, "", "-", "process (not alternated)", min(ours["times"]), statistics.median(ours["times"]),
                   peer, min(theirs["times"]), statistics.median(theirs["times"]), min(ratios), statistics.median(ratios),
                   max(ours["peaks"]), max(theirs["peaks"]), load_before, load_after, "not checked"]
            print("\t".join(str(v) for v in row))


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
    if sys.argv[1] == "google":
        google_rows(*sys.argv[2:8])
    elif sys.argv[1] == "own":
        own_rows(*sys.argv[2:8])
    elif sys.argv[1] == "table":
        table(*sys.argv[2:8])
    else:
        sys.exit(__doc__)
