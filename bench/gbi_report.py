#!/usr/bin/python3
"""Measures the display-list model and dlscope-dis; writes their section of docs/PERFORMANCE.md.

Run by bench/run_bench.py at the end of scripts/bench, or alone after the
"bench" preset is built:

    python3 bench/gbi_report.py [--build build/bench] [--out docs/PERFORMANCE.md]

The section sits between the markers <!-- display-list:begin --> and
<!-- display-list:end --> and is replaced in place; the rest of the file is
kept. Every number comes from this run. Standard library only.
"""

import argparse
import hashlib
import os
import re
import resource
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GEN = os.path.join(ROOT, "..", "shared", "bench", "gen_mixed.py")
MD5 = "a10da3a23fc81b8e59c7ff8dbafcf792"
BEGIN = "<!-- display-list:begin -->"
END = "<!-- display-list:end -->"
GOAL_INSTRUCTIONS = 550
GOAL_RATE = 10e6
GOAL_CLI_RATIO = 1.5
GOAL_TEXT_OVERHEAD = 0.30
GOAL_BINARY_OVERHEAD = 0.05
SAMPLE = 100000


def run(argv, **kwargs):
    return subprocess.run(argv, check=True, text=True, **kwargs)


def bench_json(binary, *args):
    out = run([binary, *args], stdout=subprocess.PIPE).stdout
    fields = dict(re.findall(r'"(\w+)": ("[^"]*"|[\d.]+)', out))
    return {k: (v.strip('"') if v.startswith('"') else float(v)) for k, v in fields.items()}


def best_seconds(binary, *args, runs=5):
    return min(bench_json(binary, *args)["seconds"] for _ in range(runs))


def instructions(binary, function, *args):
    """Instructions executed inside `function` (callgrind, exact)."""
    result = subprocess.run(["valgrind", "--tool=callgrind", f"--toggle-collect={function}",
                             "--callgrind-out-file=/dev/null", binary, *args],
                            text=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    match = re.search(r"refs:\s+([\d,]+)", result.stderr)
    if not match:
        raise RuntimeError("callgrind gave no count:\n" + result.stderr)
    return int(match.group(1).replace(",", ""))


def wall_seconds(argv, stdin=None, runs=5):
    best = None
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(argv, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=stdin)
        elapsed = time.perf_counter() - t0
        best = elapsed if best is None else min(best, elapsed)
    return best


def peak_rss_kib(argv):
    code = ("import resource, subprocess, sys\n"
            "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)\n"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    return int(run([sys.executable, "-c", code, *argv], stdout=subprocess.PIPE).stdout.strip())


def make_buffers(results):
    base = os.path.join(results, "mixed")
    if not (os.path.exists(base + ".bin") and hashlib.md5(open(base + ".bin", "rb").read()).hexdigest() == MD5):
        run([sys.executable, GEN, "1000000", base])
    digest = hashlib.md5(open(base + ".bin", "rb").read()).hexdigest()
    small = os.path.join(results, "mixed100k")
    with open(base + ".bin", "rb") as f:
        open(small + ".bin", "wb").write(f.read(SAMPLE * 8))
    with open(base + ".hex") as f:
        open(small + ".hex", "w").write("".join(next(f) for _ in range(SAMPLE)))
    big = os.path.join(results, "mixed4x.hex")
    if not os.path.exists(big):
        with open(big, "w") as out:
            text = open(base + ".hex").read()
            for _ in range(4):
                out.write(text)
    return base, small, big, digest


def verdict(ok):
    return "met" if ok else "**not met**"


def measure(build):
    results = os.path.join(build, "results")
    os.makedirs(results, exist_ok=True)
    bench = os.path.join(build, "bench", "gbi_bench")
    dis = os.path.join(build, "cli", "dlscope-dis")
    base, small, big, digest = make_buffers(results)
    m = {"digest": digest}
    m["decode_s"] = best_seconds(bench, "decode", base + ".bin")
    m["floor_s"] = best_seconds(bench, "floor", base + ".bin")
    m["read_text_s"] = best_seconds(bench, "read-decode", base + ".hex")
    m["read_bin_s"] = best_seconds(bench, "read-decode", base + ".bin")
    m["decode_i"] = instructions(bench, "*measuredDecode*", "decode", small + ".bin") / SAMPLE
    m["floor_i"] = instructions(bench, "*measuredFloor*", "floor", small + ".bin") / SAMPLE
    m["text_i"] = instructions(bench, "*measuredRead*", "read-decode", small + ".hex") / SAMPLE
    m["bin_i"] = instructions(bench, "*measuredRead*", "read-decode", small + ".bin") / SAMPLE
    m["read_text_only_i"] = instructions(bench, "*measuredRead*", "read", small + ".hex") / SAMPLE
    m["read_bin_only_i"] = instructions(bench, "*measuredRead*", "read", small + ".bin") / SAMPLE
    m["check_i"] = instructions(bench, "*measuredCheck*", "check", small + ".bin") / SAMPLE
    m["check_s"] = best_seconds(bench, "check", base + ".bin")
    m["cli_text_s"] = wall_seconds([dis, "--ucode", "f3d", base + ".hex"])
    m["cli_bin_s"] = wall_seconds([dis, "--ucode", "f3d", "--binary", base + ".bin"])
    m["rss_1m"] = peak_rss_kib([dis, "--ucode", "f3d", base + ".hex"])
    m["rss_4m"] = peak_rss_kib([dis, "--ucode", "f3d", big])
    m["cpu"] = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    window = os.path.join(build, "bench", "display_list_bench")
    m["window"] = []
    if os.path.exists(window):
        out = subprocess.run([window], text=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout
        m["window"] = [line.strip() for line in out.splitlines() if line.strip()]
    return m


def render(m, build):
    rel = lambda p: os.path.relpath(p, ROOT)
    bench = rel(os.path.join(build, "bench", "gbi_bench"))
    dis = rel(os.path.join(build, "cli", "dlscope-dis"))
    res = rel(os.path.join(build, "results"))
    rate = 1e6 / m["decode_s"]
    cli_ratio = m["cli_text_s"] / m["decode_s"]
    text_over = m["text_i"] / m["decode_i"] - 1
    bin_over = m["bin_i"] / m["decode_i"] - 1
    lines = [BEGIN, "## Display lists: decoding, printing, reading", "",
             f"Shared benchmark buffer: `gen_mixed.py 1000000` (md5 of mixed.bin {m['digest']}), decoded as f3d, "
             f"static macros printed, output counted and discarded. Machine: {m['cpu']}. "
             f"Instruction counts are exact (callgrind, first {SAMPLE:,} commands, after the tables are built); "
             f"times are the best of 5 runs.", ""]
    rows = [
        ("Decode and print: instructions per command (goal <= 550)",
         f"{m['decode_i']:.0f}; the floor (the words written as hex text of the same length) {m['floor_i']:.0f}",
         verdict(m["decode_i"] <= GOAL_INSTRUCTIONS)),
        ("Decode and print: commands per second on one core (goal >= 10 M)",
         f"{rate / 1e6:.1f} M ({m['decode_s'] * 1000:.0f} ms for 1 M); floor {1 / m['floor_s']:.1f} M",
         verdict(rate >= GOAL_RATE)),
        ("dlscope-dis on mixed.hex to /dev/null within 1.5x of the library",
         f"{m['cli_text_s'] * 1000:.0f} ms, {cli_ratio:.2f}x; binary input {m['cli_bin_s'] * 1000:.0f} ms",
         verdict(cli_ratio <= GOAL_CLI_RATIO)),
        ("Reading mixed.hex adds at most 30 % to decoding and printing",
         f"+{text_over * 100:.0f} % ({m['text_i']:.0f} against {m['decode_i']:.0f} instructions; reading alone "
         f"{m['read_text_only_i']:.0f})", verdict(text_over <= GOAL_TEXT_OVERHEAD)),
        ("Reading mixed.bin adds at most 5 %",
         f"+{bin_over * 100:.1f} % ({m['bin_i']:.0f} instructions; reading alone {m['read_bin_only_i']:.0f})",
         verdict(bin_over <= GOAL_BINARY_OVERHEAD)),
        ("Checking the buffer adds at most 50 % to decoding and printing",
         f"+{m['check_i'] / m['decode_i'] * 100:.0f} % ({m['check_i']:.0f} instructions per command; "
         f"{m['check_s'] * 1000:.0f} ms for 1 M)", verdict(m["check_i"] <= 0.5 * m["decode_i"])),
        ("Memory stays flat as the input grows (dlscope-dis, peak RSS)",
         f"{m['rss_1m'] / 1024:.1f} MiB for 1 M commands, {m['rss_4m'] / 1024:.1f} MiB for 4 M",
         verdict(m["rss_4m"] <= m["rss_1m"] * 1.1 + 1024)),
    ]
    lines.append("| Goal | Measured | Verdict |")
    lines.append("|---|---|---|")
    for r in rows:
        lines.append("| " + " | ".join(r) + " |")
    if m["window"]:
        lines += ["", "The display-list window (offscreen, one million commands pasted; goal: the table ready "
                  "within 1 s, at most 64 bytes per command beyond the input):", ""]
        lines += ["- " + l for l in m["window"]]
    lines += ["", "Reproduce:", "", "```sh",
              f"python3 ../shared/bench/gen_mixed.py 1000000 {res}/mixed",
              f"{bench} decode {res}/mixed.bin            # time; also floor, read, read-decode",
              f"valgrind --tool=callgrind --toggle-collect='*measuredDecode*' {bench} decode {res}/mixed100k.bin",
              f"time {dis} --ucode f3d {res}/mixed.hex >/dev/null",
              f"QT_QPA_PLATFORM=offscreen {rel(os.path.join(build, 'bench', 'display_list_bench'))}",
              "```", "", END]
    return "\n".join(lines)


def splice(path, section):
    text = open(path).read() if os.path.exists(path) else "# Performance\n"
    if BEGIN in text and END in text:
        before = text[:text.index(BEGIN)]
        after = text[text.index(END) + len(END):]
        text = before + section + after
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    open(path, "w").write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "PERFORMANCE.md"))
    args = parser.parse_args()
    if not shutil.which("valgrind"):
        print("valgrind is needed for the instruction counts", file=sys.stderr)
        return 2
    build = os.path.abspath(args.build)
    print("== display lists", flush=True)
    section = render(measure(build), build)
    splice(args.out, section)
    print(section)
    return 0


if __name__ == "__main__":
    sys.exit(main())
