#!/usr/bin/env python3
"""Times quorvex-cli against tr and cat on the same file, and measures its peak memory.

Usage: bench/throughput.py [BUILD_DIR] [--rounds N]

Generates its data files under BUILD_DIR/bench-data on first use (about 1.4 GiB), runs
each command file to file with the input in the page cache, and prints the medians,
the two ratios the tool is held to, and the peak resident memory of the tool.
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


def run(command: list[str], stdin: Path | None, stdout: Path) -> tuple[float, int]:
    """Wall time in seconds and peak resident memory in KiB of one command."""
    with open(stdin or os.devnull, "rb") as fin, stdout.open("wb") as fout:
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdin=fin, stdout=fout)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{command[0]} failed with status {proc.returncode}")
    return elapsed, usage.ru_maxrss


def peak_memory(command: list[str]) -> int:
    """Peak resident memory in KiB. GNU time stands between us and the command, since a
    child forked from this (large) interpreter would report the interpreter's memory."""
    if not Path("/usr/bin/time").exists():
        sys.exit("needs GNU time: apt-get install time")
    report = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(report.stderr.split()[-1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    data = Path(args.build, "bench-data")
    data.mkdir(parents=True, exist_ok=True)
    lines = ensure(data / "lines-256m.txt", text_lines, 256 * MIB, 200)
    big = ensure(data / "lines-1g.txt", text_lines, 1024 * MIB, 200)
    long_line = ensure(data / "one-line-100m.txt", one_line, 100 * MIB)
    out = data / "out.txt"

    # cat copies inside the kernel (copy_file_range) and never sees the bytes; dd with
    # large blocks is the plain read-and-write copy that any program that looks at the
    # bytes has to pay for.
    commands = {
        "cat": (["cat", str(lines)], None),
        "dd bs=1M": (["dd", f"if={lines}", "bs=1M", "status=none"], None),
        "tr": (["tr", "!-~", "P-~!-O"], lines),
        "quorvex-cli": ([cli, "encrypt", "-g", "0", str(lines), str(out)], None),
    }
    run(["cat", str(lines)], None, out)  # into the page cache
    times: dict[str, list[float]] = {name: [] for name in commands}
    for _ in range(args.rounds):
        for name, (command, stdin) in commands.items():
            # Every command writes a new file: freeing the old one's pages is nobody's cost.
            out.unlink(missing_ok=True)
            os.sync()
            times[name].append(run(command, stdin, out)[0])

    size_mb = lines.stat().st_size / 1e6
    print(f"256 MiB of text lines, {args.rounds} rounds, medians:")
    median = {name: statistics.median(t) for name, t in times.items()}
    for name, seconds in median.items():
        print(f"  {name:12} {seconds:7.3f} s  {size_mb / seconds:7.0f} MB/s")
    print(f"  quorvex-cli / tr  = {median['quorvex-cli'] / median['tr']:.2f}  (at most 0.5)")
    print(f"  quorvex-cli / cat = {median['quorvex-cli'] / median['cat']:.2f}  (at most 1.5)")
    print(f"  quorvex-cli / dd  = {median['quorvex-cli'] / median['dd bs=1M']:.2f}")

    for name, path in (("1 GiB of text lines", big), ("one 100 MiB line", long_line)):
        for mode in ("encrypt", "decrypt"):
            print(f"peak memory, {mode} {name}: {peak_memory([cli, mode, '-g', '2', str(path), str(out)]) / 1024:.1f} MiB  (under 8)")
    out.unlink()


if __name__ == "__main__":
    main()
