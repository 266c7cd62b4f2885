#!/usr/bin/python3
"""Draws the benchmark pictures from the sample lines of a run.

    plot.py OUT_DIR   reads OUT_DIR/latency.tsv and OUT_DIR/idle.tsv, writes latency.png and idle.png
"""
import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# Row names hold Japanese units ("10分"): fall back to the IPA font setup installs.
plt.rcParams["font.family"] = ["DejaVu Sans", "IPAGothic"]


def read_rows(path):
    with open(path, encoding="utf-8") as f:
        return [row for row in csv.reader(f, delimiter="\t") if len(row) >= 3]


def latency_picture(rows, path):
    series = {}
    for _, name, value in (row[:3] for row in rows):
        series.setdefault(name, []).append(float(value))
    names = list(series)
    fig, ax = plt.subplots(figsize=(9, 4.5))
    ax.boxplot([series[n] for n in names], vert=False, labels=names, whis=(5, 95), showfliers=True)
    for i, name in enumerate(names, start=1):
        ax.scatter(series[name], [i] * len(series[name]), s=8, alpha=0.4)
    ax.set_xlabel("ms (box: quartiles and median, whiskers: 5th and 95th percentile)")
    ax.set_title("Key press latency beside the start and end of a trivial program")
    ax.grid(axis="x", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def idle_picture(rows, path):
    names = [row[1] for row in rows]
    own = [float(row[2]) for row in rows]
    server = [float(row[3]) if len(row) > 3 else 0.0 for row in rows]
    fig, ax = plt.subplots(figsize=(9, 0.5 * len(names) + 1.5))
    y = range(len(names))
    ax.barh(y, own, label="the process (ended threads included)")
    ax.barh(y, server, left=own, alpha=0.5, label="wineserver in the same window")
    ax.set_yticks(list(y))
    ax.set_yticklabels(names)
    ax.invert_yaxis()
    ax.set_xlabel("% of one core")
    ax.set_title("Idle CPU per configuration")
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.1), ncol=2, fontsize="small")
    ax.grid(axis="x", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    out = sys.argv[1]
    for name, draw in (("latency", latency_picture), ("idle", idle_picture)):
        source = os.path.join(out, name + ".tsv")
        rows = read_rows(source) if os.path.exists(source) else []
        if not rows:
            print(f"plot: no samples in {source}, no {name}.png", file=sys.stderr)
            continue
        draw(rows, os.path.join(out, name + ".png"))
        print(f"plot: {os.path.join(out, name + '.png')}")


if __name__ == "__main__":
    main()
