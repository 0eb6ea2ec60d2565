#!/usr/bin/env python3
"""The XML library beside pugixml and tinyxml2: load, parse and save speed,
fresh-process peak memory and the JSON reader's growth, as one table.

    bench/xml_speed_compare.py build/bench/xml_speed_bench [--small] [--runs N]

Speeds come from one process that measures every contender side by side (see
xml_speed_bench.cpp), with the allocator told to keep freed memory for reuse,
so that no library pays for first touches of fresh pages that another is
spared. Peak memory comes from a fresh process per library and document that
reads the file and loads it once; it includes the input buffer, which every
library holds alike (the "input" row), and runs with the allocator's usual
settings, as a user's process would. --small uses 2 MB documents and 3 runs,
for CI.
"""
import os
import subprocess
import sys
import tempfile

KEEP_MEMORY = ("glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4000000000:"
               "glibc.malloc.top_pad=268435456")
DOCUMENTS = ["wide", "deep"]


def option(args, name, default):
    return args[args.index(name) + 1] if name in args else default


def warm(program, size_mb, runs):
    env = dict(os.environ, GLIBC_TUNABLES=KEEP_MEMORY)
    out = subprocess.run([program, "warm", "--size-mb", str(size_mb), "--runs", str(runs)],
                         check=True, capture_output=True, text=True, env=env).stdout
    figures = {}
    for line in out.splitlines():
        key, value = line.split()
        figures[key] = float(value)
    return figures


def peak_mib(program, contender, path):
    """Peak resident memory of one fresh process, in MiB (the least of three)."""
    best = None
    for _ in range(3):
        out = subprocess.run([program, "peak", contender, path], check=True, capture_output=True,
                             text=True).stdout
        mib = int(out.split()[-1]) / 1024.0
        best = mib if best is None else min(best, mib)
    return best


def peaks(program, size_mb):
    result = {}
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([program, "write", folder, "--size-mb", str(size_mb)], check=True)
        for doc in DOCUMENTS:
            utf8 = os.path.join(folder, doc + ".xml")
            ansi = os.path.join(folder, doc + ".ansi.xml")
            for contender, path in [("input", utf8), ("ours-load", utf8), ("ours-parse", ansi),
                                    ("pugixml", utf8), ("tinyxml2", utf8)]:
                result[(doc, contender)] = peak_mib(program, contender, path)
    return result


def ratio(a, b):
    return f"{a / b:5.2f}x" if b else "  -  "


def main():
    args = sys.argv[1:]
    if not args:
        raise SystemExit(__doc__)
    program = args[0]
    small = "--small" in args
    size_mb = 2 if small else 50
    runs = int(option(args, "--runs", 3 if small else 7))

    f = warm(program, size_mb, runs)
    p = peaks(program, size_mb)

    print(f"XML library comparison: {size_mb} MB documents, median of {runs} runs, MB/s "
          "(input; save: output), CPU time")
    for doc in DOCUMENTS:
        elements = int(f[f"{doc}.elements"])
        print(f"\n{doc}: {f[doc + '.bytes'] / 1e6:.1f} MB, {elements} elements"
              + ("  ELEMENT COUNTS DIFFER" if f.get(f"{doc}.element_counts_differ") else ""))
        load, parse = f[f"{doc}.load.ours"], f[f"{doc}.parse.ours"]
        pugi, tiny = f[f"{doc}.parse.pugixml"], f[f"{doc}.parse.tinyxml2"]
        print(f"  {'read':32} {'MB/s':>8} {'vs pugixml':>11} {'vs tinyxml2':>12} {'peak MiB':>9}")
        rows = [("ours load (UTF-8 stream)", load, "ours-load"),
                ("ours parse (ANSI text)", parse, "ours-parse"),
                ("pugixml parse", pugi, "pugixml"), ("tinyxml2 parse", tiny, "tinyxml2")]
        for label, speed, contender in rows:
            print(f"  {label:32} {speed:8.1f} {ratio(speed, pugi):>11} {ratio(speed, tiny):>12} "
                  f"{p[(doc, contender)]:9.1f}")
        print(f"  {'input buffer alone':32} {'':8} {'':11} {'':12} {p[(doc, 'input')]:9.1f}")
        print(f"  load / own parse: {ratio(load, parse)}   "
              f"peak of ours load / tinyxml2: {ratio(p[(doc, 'ours-load')], p[(doc, 'tinyxml2')])}")
        print(f"  {'save':32} {'formatted':>10} {'vs tinyxml2':>12} {'compact':>10} "
              f"{'vs tinyxml2':>12}")
        tiny_fmt, tiny_raw = f[f"{doc}.save_fmt.tinyxml2"], f[f"{doc}.save_raw.tinyxml2"]
        for label, key in [("ours GetXML", "ours_getxml"), ("ours SaveToStream", "ours_stream"),
                           ("pugixml save", "pugixml"), ("tinyxml2 print", "tinyxml2")]:
            fmt, raw = f[f"{doc}.save_fmt.{key}"], f[f"{doc}.save_raw.{key}"]
            print(f"  {label:32} {fmt:10.1f} {ratio(fmt, tiny_fmt):>12} {raw:10.1f} "
                  f"{ratio(raw, tiny_raw):>12}")

    json = sorted((int(k.split("_")[1]), v) for k, v in f.items() if k.startswith("json."))
    (n1, t1), (n2, t2) = json
    print(f"\nJSON read, one object: {n1} members {t1:.2f} ms, {n2} members {t2:.2f} ms, "
          f"{n2 // n1}x the members cost {t2 / t1:.1f}x the time")


if __name__ == "__main__":
    main()
