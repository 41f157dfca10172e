#!/usr/bin/python3
"""Table and bar chart of the OpenCV comparison from korval_bench's JSON output.

    korval_bench --benchmark_filter=... --benchmark_out=run.json --benchmark_out_format=json
    bench/compare_chart.py run.json docs/performance.svg

Prints a Markdown table (fastest thread CPU time of each side over the alternated
runs, ratio ours / OpenCV) and draws the same figures as horizontal bars.
"""
import json
import statistics
import sys


def fastest_times(benchmarks):
    """Fastest CPU time (us) of every series: Compare/<key>/<side> or a plain benchmark."""
    series = {}
    for b in benchmarks:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        name = b["run_name"]
        if name.startswith("Compare/"):
            name = name[len("Compare/"):name.rindex("/round")]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
        series.setdefault(name, []).append(b["cpu_time"] * scale)
    return series


def rows_of(context, benchmarks):
    """(key, label) of every comparison row, in the order the rows ran."""
    labels = {key[len("row "):]: label for key, label in context.items() if key.startswith("row ")}
    order = []
    for b in benchmarks:
        name = b["run_name"]
        if name.startswith("Compare/"):
            key = name[len("Compare/"):name.rindex("/", 0, name.rindex("/round"))]
            if key in labels and key not in order:
                order.append(key)
    return [(key, labels[key]) for key in order]


def table(rows, series):
    lines = ["| stage | ours µs | OpenCV µs | ours / OpenCV |", "|---|---:|---:|---:|"]
    for key, label in rows:
        ours, theirs = series.get(key + "/korval"), series.get(key + "/opencv")
        if not ours and not theirs:
            continue
        cells = [f"{min(v):.1f}" if v else "–" for v in (ours, theirs)]
        ratio = ""
        if ours and theirs:
            per_run = [a / b for a, b in zip(ours, theirs)]
            ratio = f"**{min(ours) / min(theirs):.2f}** (runs: median {statistics.median(per_run):.2f}, " \
                    f"{min(per_run):.2f}–{max(per_run):.2f})"
        lines.append(f"| {label} | {cells[0]} | {cells[1]} | {ratio} |")
    return "\n".join(lines)


def extras(series):
    lines = []
    decoder = series.get("FrameDecoder_Process_Step5")
    if decoder:
        lines.append(f"- decoder, step-5 CIF frame: fastest {min(decoder):.1f} µs")
    fill, alone = series.get("StreamContext_FillReadRequest_Cif_I420"), \
        series.get("CImageProcess_Process_InStream_Cif_I420")
    if fill and alone:
        lines.append(f"- FillReadRequest, CIF I420: fastest {min(fill):.1f} µs; the same stream's Process alone "
                     f"{min(alone):.1f} µs; ratio {min(fill) / min(alone):.2f}")
    return "\n".join(lines)


def paths_table(series):
    """The whole Process and the decoder on the pixel paths: the best the processor has (AVX-512 where
    it has VBMI) and AVX2 (host only), SSE2 and plain (the paths the 32-bit Windows image runs), the
    ratios against AVX2. The I420 rows come from the alternated rounds (ratios with the median of the
    per-round ratios), the others from single benchmarks. The decoder has no AVX-512 code."""
    rows = []
    for size, key in (("CIF", "Cif"), ("VGA", "Vga")):
        rows.append(([f"{key}/Whole{path}/korval" for path in ("", "Avx2", "Sse2", "Plain")],
                     f"whole Process, {size} I420 (alternated rounds)"))
        rows.append(([f"CImageProcess_Process_{size}_BGR24{path}" for path in ("", "_Avx2", "_Sse2", "_Plain")],
                     f"whole Process, {size} BGR24"))
    rows.append(([f"FrameDecoder_Process_Step5{path}" for path in ("", "", "_Sse2", "_Plain")],
                 "decoder, step-5 CIF frame"))
    lines = ["| job | best µs | AVX2 µs | SSE2 µs | plain µs | SSE2 / AVX2 | plain / AVX2 |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for names, label in rows:
        times = [series.get(name) for name in names]
        if not times[1]:
            continue
        cells = [f"{min(t):.1f}" if t else "–" for t in times]
        ratios = []
        for t in times[2:]:
            ratio = f"{min(t) / min(times[1]):.2f}" if t else ""
            if t and len(t) == len(times[1]) > 1:
                ratio += f" (median {statistics.median(a / b for a, b in zip(t, times[1])):.2f})"
            ratios.append(ratio)
        lines.append(f"| {label} | {' | '.join(cells)} | {' | '.join(ratios)} |")
    return "\n".join(lines) if len(lines) > 2 else ""


def chart(context, rows, series, path):
    try:
        import matplotlib
    except ImportError:
        sys.exit(f"{sys.argv[0]}: drawing {path} needs matplotlib (Debian: python3-matplotlib) "
                 f"for {sys.executable}; the tables above are complete")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = [(key, label) for key, label in rows if series.get(key + "/korval") or series.get(key + "/opencv")]
    figure, axes = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.4))
    height = 0.38
    for i, (key, _) in enumerate(rows):
        for side, offset, colour, name in (("korval", -height / 2, "#2a6f97", "korval"),
                                           ("opencv", height / 2, "#c8553d", "OpenCV")):
            times = series.get(f"{key}/{side}")
            if times:
                axes.barh(i + offset, min(times), height, color=colour, label=name if i == 0 or not
                          any(series.get(f"{k}/{side}") for k, _ in rows[:i]) else None)
                axes.text(min(times), i + offset, f" {min(times):.0f}", va="center", fontsize=7)
    axes.set_yticks(range(len(rows)), [label for _, label in rows], fontsize=8)
    axes.invert_yaxis()
    axes.set_xlabel("fastest thread CPU time per frame, µs (shorter is faster)")
    host = context.get("host_name", "")
    axes.set_title(f"korval vs OpenCV {context.get('opencv', '')} (single-threaded), {context.get('compiler', '')}, "
                   f"{context.get('num_cpus', '?')} CPUs {host}", fontsize=9)
    axes.legend(loc="best", fontsize=8)
    figure.tight_layout()
    figure.savefig(path, metadata={"Date": None})


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(f"usage: {argv[0]} RUN.json [CHART.svg|.png]")
    try:
        with open(argv[1], encoding="utf-8") as file:
            run = json.load(file)
    except (OSError, ValueError) as error:
        sys.exit(f"{argv[1]}: {error}")
    context, benchmarks = run.get("context", {}), run.get("benchmarks", [])
    series, rows = fastest_times(benchmarks), rows_of(context, benchmarks)
    if not rows:
        sys.exit(f"{argv[1]}: no comparison rows (was korval_bench built with OpenCV?)")
    print(table(rows, series))
    print(extras(series))
    paths = paths_table(series)
    if paths:
        print()
        print(paths)
    if len(argv) == 3:
        chart(context, rows, series, argv[2])


if __name__ == "__main__":
    main(sys.argv)
