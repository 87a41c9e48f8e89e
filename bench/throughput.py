#!/usr/bin/env python3
"""Times quorvex-cli against cat, dd and tr, file to file, and measures its peak memory.

Usage: bench/throughput.py [BUILD_DIR] [--rounds N] [--sizes 256,1024]

Generates its data files under BUILD_DIR/bench-data on first use (about 1.4 GiB). Each
round runs every command once, one after the other, on the same input in the page cache;
each time is divided by cat's time in the same round, and the medians of those ratios are
printed. Two cases: the output is a new file, and the output exists and is overwritten
(where truncating the old file and waiting for it at close costs every program alike).
Peak resident memory is taken with GNU time for a path, a regular file on standard input
and a pipe, on 1 GiB of lines and on one 100 MiB line.
"""

import argparse
import os
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path

MIB = 1 << 20
PRINTABLE = bytes(range(32, 127))
# Maps any byte onto the 95 printable characters, so random bytes become text.
TO_PRINTABLE = bytes(PRINTABLE[b % 95] for b in range(256))


def text_lines(path: Path, size: int, max_line: int, end: bytes = b"\n") -> None:
    """Printable lines of 0..max_line bytes ending in `end`, `size` bytes in all."""
    rng = random.Random(size)
    with path.open("wb") as out:
        written = 0
        while written < size:
            block = os.urandom(4 * MIB).translate(TO_PRINTABLE)
            pieces, pos = [], 0
            while pos < len(block):
                length = rng.randint(0, max_line)
                pieces.append(block[pos:pos + length])
                pos += length
            chunk = end.join(pieces) + end
            out.write(chunk)
            written += len(chunk)


def one_line(path: Path, size: int) -> None:
    with path.open("wb") as out:
        for _ in range(size // (4 * MIB)):
            out.write(os.urandom(4 * MIB).translate(TO_PRINTABLE))
        out.write(b"\n")


def ensure(path: Path, make, *args) -> Path:
    if not path.exists():
        print(f"generating {path.name} ...", file=sys.stderr)
        make(path, *args)
    return path


def timed(command: str, out: Path, new_output: bool) -> float:
    """Wall time of one shell command that writes `out`."""
    if new_output:
        out.unlink(missing_ok=True)
    else:
        out.write_bytes(b"x" * MIB)  # an old file, overwritten by the command
    os.sync()
    start = time.perf_counter()
    subprocess.run(command, shell=True, check=True)
    return time.perf_counter() - start


def peak_memory(feed: str, command: str) -> float:
    """Peak resident memory in MiB of `command`, by GNU time; `feed` starts a pipeline."""
    if not Path("/usr/bin/time").exists():
        sys.exit("needs GNU time: apt-get install time")
    report = subprocess.run(f"{feed}/usr/bin/time -f %M {command}", shell=True,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(report.stderr.split()[-1]) / 1024


def compare(lines: Path, out: Path, cli: str, rounds: int, new_output: bool) -> None:
    commands = {
        "cat": f"cat {lines} > {out}",
        "dd bs=1M": f"dd if={lines} of={out} bs=1M status=none",
        "tr": f"tr '!-~' 'P-~!-O' < {lines} > {out}",
        "encrypt": f"{cli} encrypt -g 0 {lines} {out}",
        "decrypt": f"{cli} decrypt -g 0 {lines} {out}",
    }
    times: dict[str, list[float]] = {name: [] for name in commands}
    for _ in range(rounds):
        for name, command in commands.items():
            times[name].append(timed(command, out, new_output))
    size_mb = lines.stat().st_size / 1e6
    case = "new output" if new_output else "output overwritten"
    print(f"{lines.name}, {case}, {rounds} rounds, load average {os.getloadavg()[0]:.2f}:")
    for name, seconds in times.items():
        ratios = [t / c for t, c in zip(seconds, times["cat"])]
        median = statistics.median(seconds)
        print(f"  {name:9} {median * 1000:8.1f} ms  {size_mb / median:6.0f} MB/s  "
              f"{statistics.median(ratios):5.2f} x cat")
    for name in ("encrypt", "decrypt"):
        ratios = [t / r for t, r in zip(times[name], times["tr"])]
        print(f"  {name} / tr = {statistics.median(ratios):.2f}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--sizes", default="256,1024", help="MiB of lines, comma-separated")
    args = parser.parse_args()

    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    data = Path(args.build, "bench-data")
    data.mkdir(parents=True, exist_ok=True)
    files = {256: ensure(data / "lines-256m.txt", text_lines, 256 * MIB, 200),
             1024: ensure(data / "lines-1g.txt", text_lines, 1024 * MIB, 200)}
    long_line = ensure(data / "one-line-100m.txt", one_line, 100 * MIB)
    out = data / "out.txt"

    for size in (int(s) for s in args.sizes.split(",")):
        subprocess.run(f"cat {files[size]} > /dev/null", shell=True, check=True)
        for new_output in (True, False):
            compare(files[size], out, cli, args.rounds, new_output)

    print("peak resident memory:")
    for name, path in (("1 GiB of lines", files[1024]), ("one 100 MiB line", long_line)):
        for how, feed, command in (("path", "", f"{cli} encrypt -g 2 {path} {out}"),
                                   ("file on stdin", "", f"{cli} encrypt -g 2 - {out} < {path}"),
                                   ("pipe", f"cat {path} | ", f"{cli} encrypt -g 2 - {out}")):
            print(f"  {name:17} {how:14} {peak_memory(feed, command):5.1f} MiB")
    out.unlink()


if __name__ == "__main__":
    main()
