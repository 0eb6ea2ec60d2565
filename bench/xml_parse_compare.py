#!/usr/bin/env python3
"""Runs each parser benchmark of xml_parse_bench in a process of its own and
prints speed and peak memory side by side.

One process per benchmark, because an allocator that keeps memory for reuse
(our node pool keeps its slabs) would otherwise hide the memory of every
benchmark after the first. Speed is taken from CPU time, which a busy machine
disturbs less than wall time.

    bench/xml_parse_compare.py build-release/bench/xml_parse_bench [repetitions]
"""
import json
import statistics
import subprocess
import sys

BENCHMARKS = [
    ("ours, load (UTF-8 stream, converted)", "BM_Zorva_Load"),
    ("ours, parse (ANSI text)", "BM_Zorva_Parse"),
    ("pugixml", "BM_Pugixml_Parse"),
    ("tinyxml2", "BM_Tinyxml2_Parse"),
]
DOCUMENTS = [("wide", 0), ("deep", 1)]


def run(program, name, document, repetitions):
    output = subprocess.run(
        [program, f"--benchmark_filter=^{name}/{document}$",
         f"--benchmark_repetitions={repetitions}", "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    runs = [r for r in json.loads(output)["benchmarks"] if r.get("run_type") == "iteration"]
    speed = statistics.median(r["bytes_per_second"] for r in runs) / 1e6
    peak = max(r["peak_MiB"] for r in runs)
    ratio = max(r["peak_per_input"] for r in runs)
    return speed, peak, ratio


def main():
    program = sys.argv[1]
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print(f"{'library':40} {'doc':5} {'MB/s':>8} {'peak MiB':>9} {'peak/input':>11}")
    for label, name in BENCHMARKS:
        for document, index in DOCUMENTS:
            speed, peak, ratio = run(program, name, index, repetitions)
            print(f"{label:40} {document:5} {speed:8.1f} {peak:9.1f} {ratio:11.2f}")


if __name__ == "__main__":
    main()
