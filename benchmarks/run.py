"""Runs the benchmark rows: python benchmarks/run.py [NAME-SUBSTRING ...]

Prints a table (workload, quibra time, baseline time, speed-up), writes the
figures to benchmarks/results/results.json and a bar chart to
benchmarks/results/speedups.png.
"""

import importlib
import json
import os
import pathlib
import platform
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import quibra  # noqa: E402


def load_rows():
    for path in sorted(HERE.glob("rows_*.py")):
        importlib.import_module(path.stem)
    return harness.ROWS


def fmt(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:7.2f} {unit}"
    return f"{seconds / 1e-9:7.2f} ns"


def chart(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = [r["workload"] for r in results]
    speedups = [r["speedup"] for r in results]
    fig, ax = plt.subplots(figsize=(10, 0.32 * len(names) + 1.5))
    colors = ["tab:green" if s >= 1 else "tab:red" for s in speedups]
    ax.barh(range(len(names)), speedups, color=colors)
    ax.set_yticks(range(len(names)), names, fontsize=8)
    ax.invert_yaxis()
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_xlabel("speed-up over the standard-library way (log scale, higher is better)")
    ax.set_title("quibra benchmarks")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(argv):
    filters = [a for a in argv if not a.startswith("-")]
    rows = [r for r in load_rows() if not filters or any(f in r.name for f in filters)]
    results, skipped = [], []
    header = f"{'workload':<52} {'quibra':>11} {'baseline':>11} {'speed-up':>9}  baseline"
    print(header)
    print("-" * len(header))
    for r in rows:
        missing = [n for n in r.needs if not hasattr(quibra, n)]
        if missing:
            skipped.append((r.name, missing))
            continue
        tq, tb = harness.measure(r)
        speedup = tb / tq
        print(f"{r.name:<52} {fmt(tq):>11} {fmt(tb):>11} {speedup:8.2f}x  {r.baseline_name}", flush=True)
        results.append({"workload": r.name, "quibra_s": tq, "baseline_s": tb,
                        "speedup": speedup, "baseline": r.baseline_name})
    for name, missing in skipped:
        print(f"skipped {name}: quibra has no {', '.join(missing)} yet")
    out = HERE / "results"
    out.mkdir(exist_ok=True)
    meta = {"python": sys.version, "machine": platform.machine(), "cpus": os.cpu_count()}
    (out / "results.json").write_text(json.dumps({"meta": meta, "rows": results}, indent=2))
    if results:
        chart(results, out / "speedups.png")
        print(f"wrote {out / 'results.json'} and {out / 'speedups.png'}")
    else:
        print(f"wrote {out / 'results.json'} (no rows ran)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
