#!/usr/bin/env python3
"""Runs the payload benchmarks and prints the table of docs/performance.md.

usage: report.py BUILD_BENCH_DIR [REPETITIONS]
BUILD_BENCH_DIR is the folder holding payload_bench and payload_peak_rss
(e.g. build/bench/bench). Every figure is the min and the median of the
repetitions of one run; ratios divide figures of that same run.
"""
import json
import os
import statistics
import subprocess
import sys

folder = sys.argv[1]
repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 10
run = subprocess.run(
    [os.path.join(folder, "payload_bench"), "--benchmark_format=json",
     f"--benchmark_repetitions={repetitions}",
     # Repetitions of all benchmarks run in random order, so a change of
     # load during the run falls on the compared figures alike.
     "--benchmark_enable_random_interleaving=true"],
    check=True, capture_output=True, text=True)
sys.stderr.write(run.stderr)
results = json.loads(run.stdout)

times, counters = {}, {}
for b in results["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"].split("/")[0]  # drop "/iterations:1"
    times.setdefault(name, []).append(b["real_time"])  # milliseconds
    if "ratio" in b:
        counters[name] = b["ratio"]


def stat(name):
    values = times[name]
    return min(values), statistics.median(values)


print(f"Host: {results['context'].get('host_name', '?')}, "
      f"{results['context'].get('num_cpus', '?')} CPUs at {results['context'].get('mhz_per_cpu', '?')} MHz; "
      f"{repetitions} repetitions.\n")
print("| Measurement | min (ms) | median (ms) | Reference | ratio of min | ratio of median | Target |")
print("|---|---:|---:|---|---:|---:|---|")
rows = [
    ("RC4 (Rc4Xor) over the enciphered archive", "BM_Rc4", "BM_OpenSslRc4", "<= 1.0"),
    ("LZ decode of every entry", "BM_LzDecode", "BM_Memcpy", "<= 3.0"),
    ("lz4 LZ4_decompress_safe, same files (reference)", "BM_Lz4DecompressSafe", "BM_Memcpy", "-"),
    ("Whole DecodeArchive", "BM_DecodeArchive", "BM_OpenSslRc4", "<= 1.4"),
]
for label, name, ref, target in rows:
    mn, md = stat(name)
    rmn, rmd = stat(ref)
    refLabel = ref.replace("BM_", "")
    print(f"| {label} | {mn:.2f} | {md:.2f} | {refLabel} {rmn:.2f} / {rmd:.2f} | {mn / rmn:.2f} | {md / rmd:.2f} | {target} |")
for ref in ("BM_OpenSslRc4", "BM_Memcpy"):
    mn, md = stat(ref)
    print(f"| {ref.replace('BM_', '')} (reference) | {mn:.2f} | {md:.2f} | | | | |")

print("\n| Encoder | min (ms) | median (ms) | MB/s (best) | compressed / original |")
print("|---|---:|---:|---:|---:|")
memcpy_bytes = None
for b in results["benchmarks"]:
    if b.get("run_type") == "iteration" and b["run_name"].startswith("BM_LzDecode"):
        # bytes_per_second is derived from CPU time: recover the byte count.
        memcpy_bytes = b["bytes_per_second"] * b["cpu_time"] / 1000.0
        break
for name in ("BM_CompressOptimal", "BM_CompressGreedy"):
    mn, md = stat(name)
    mbps = memcpy_bytes / (mn / 1000.0) / 1e6 if memcpy_bytes else float("nan")
    print(f"| {name.replace('BM_Compress', '')} parse | {mn:.0f} | {md:.0f} | {mbps:.1f} | {counters[name]:.4f} |")
print(f"| lz4 default (reference) | | | | {counters['BM_Lz4DecompressSafe']:.4f} |")

rss = subprocess.run([os.path.join(folder, "payload_peak_rss"), str(repetitions)], check=True,
                     capture_output=True, text=True)
print("\nPeak memory and time of the first DecodeArchive in a fresh process (payload_peak_rss):\n")
for line in rss.stdout.strip().splitlines():
    print(f"    {line}")
