#!/usr/bin/env python3
"""Ratios of one composite_bench run: reads its JSON output (a file given as
argument, or stdin) and prints, per size, how many times faster the
compositor is than its reference, from the medians when repetitions ran."""
import json
import sys


def times(data):
    """name -> the run (its CPU time is used: the machine is shared) of the median (or the only) run, and counters."""
    runs = {}
    medians = {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        else:
            runs.setdefault(name, b)
    runs.update(medians)
    return runs


def main():
    text = open(sys.argv[1]).read() if len(sys.argv) > 1 else sys.stdin.read()
    runs = times(json.loads(text))

    def t(name):
        return runs[name]["cpu_time"]

    def have(*names):
        return all(n in runs for n in names)

    print("BlendOverlay RGB24 vs pixman OVER (a8r8g8b8 onto r8g8b8), throughput ratio:")
    for i in range(3):
        ours, pix = f"BM_BlendOverlayRGB24/{i}", f"BM_PixmanOverRGB24/{i}"
        if not have(ours, pix):
            continue
        print(f"  {runs[ours].get('label', '')}: {t(pix) / t(ours):.2f}x"
              f"  ({t(ours) * 1e-3:.2f} us vs {t(pix) * 1e-3:.2f} us)")
    print("BlendOverlay YUY2 vs RGB24, per pixel (>= 1 means YUY2 at least as fast):")
    for i in range(3):
        rgb, yuy = f"BM_BlendOverlayRGB24/{i}", f"BM_BlendOverlayYUY2/{i}"
        if not have(rgb, yuy):
            continue
        print(f"  {runs[yuy].get('label', '')}: {t(rgb) / t(yuy):.2f}x"
              f"  ({t(yuy) * 1e-3:.2f} us vs {t(rgb) * 1e-3:.2f} us)")
    print("PrepareOverlay vs swscale Lanczos GBRAP -> GBRAP, speed ratio:")
    for i in range(3):
        sws = f"BM_SwscaleLanczosGBRAP/{i}"
        for kind in ("YUVA", "BGRA"):
            ours = f"BM_PrepareOverlay{kind}/{i}"
            if not have(ours, sws):
                continue
            builds = runs[ours].get("table_builds", "?")
            print(f"  {runs[ours].get('label', '')} ({kind}): {t(sws) / t(ours):.2f}x"
                  f"  ({t(ours) * 1e-3:.2f} us vs {t(sws) * 1e-3:.2f} us), table builds {builds:g}")


if __name__ == "__main__":
    main()
