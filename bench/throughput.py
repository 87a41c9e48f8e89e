#!/usr/bin/env python3
"""Times quorvex-cli against cat, dd and tr, file to file, and measures its peak memory.

Usage: bench/throughput.py [BUILD_DIR] [--rounds N] [--files game,short,lines,lines-1g]
                           [--new-only] [--no-memory] [--baseline OTHER_BUILD_DIR]

Generates its data files under BUILD_DIR/bench-data on first use (about 2 GiB): game text
(lines of 20 to 90 bytes, CR LF), random lines of 0 to 90 and of 0 to 200 bytes (LF), 256 MiB
each, and 1 GiB of the latter. Each round runs every command once, one after the other, on
the same input in the page cache; each time is divided by cat's time in the same round, and
the medians of those ratios are printed. Two cases: the output is a new file, and the output
exists and is overwritten (where truncating the old file and waiting for it at close costs
every program alike). Peak resident memory is taken with GNU time for a path, a regular file
on standard input and a pipe, on 1 GiB of lines and on one 100 MiB line. With --baseline,
each round also times the quorvex-cli of another build (an older commit, say), so that both
are compared under the same load.
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


def text_lines(path: Path, size: int, min_line: int, max_line: int, end: bytes = b"\n") -> None:
    """Printable lines of min_line..max_line bytes ending in `end`, `size` bytes in all."""
    rng = random.Random(size + max_line)
    with path.open("wb") as out:
        written = 0
        while written < size:
            block = os.urandom(4 * MIB).translate(TO_PRINTABLE)
            pieces, pos = [], 0
            while pos < len(block):
                length = rng.randint(min_line, max_line)
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


def compare(lines: Path, out: Path, clis: dict[str, str], rounds: int, new_output: bool) -> None:
    commands = {
        "cat": f"cat {lines} > {out}",
        "dd bs=256K": f"dd if={lines} of={out} bs=256K status=none",
        "dd bs=1M": f"dd if={lines} of={out} bs=1M status=none",
        "tr": f"tr '!-~' 'P-~!-O' < {lines} > {out}",
    }
    for suffix, cli in clis.items():
        # This build asks before it overwrites an OUTPUT; a baseline older than that may
        # not know -f, and overwrites anyway.
        force = "" if suffix else " -f"
        commands[f"encrypt{suffix}"] = f"{cli} encrypt{force} -g 0 {lines} {out}"
        commands[f"decrypt{suffix}"] = f"{cli} decrypt{force} -g 0 {lines} {out}"
    times: dict[str, list[float]] = {name: [] for name in commands}
    load_before = os.getloadavg()[0]
    for _ in range(rounds):
        for name, command in commands.items():
            times[name].append(timed(command, out, new_output))
    size_mb = lines.stat().st_size / 1e6
    case = "new output" if new_output else "output overwritten"
    print(f"{lines.name}, {case}, {rounds} rounds, 1-minute load average "
          f"{load_before:.2f} before, {os.getloadavg()[0]:.2f} after:")
    width = max(len(name) for name in times)
    for name, seconds in times.items():
        ratios = [t / c for t, c in zip(seconds, times["cat"])]
        median = statistics.median(seconds)
        print(f"  {name:{width}} {median * 1000:8.1f} ms  {size_mb / median:6.0f} MB/s  "
              f"{statistics.median(ratios):5.2f} x cat")
    for name in times:
        if name.startswith(("encrypt", "decrypt")):
            ratios = [t / r for t, r in zip(times[name], times["tr"])]
            print(f"  {name} / tr = {statistics.median(ratios):.2f}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--files", default="game,short,lines,lines-1g",
                        help="which of the line files to time, comma-separated")
    parser.add_argument("--new-only", action="store_true",
                        help="time only the case where the output is a new file")
    parser.add_argument("--no-memory", action="store_true", help="skip the peak memory runs")
    parser.add_argument("--baseline", help="another build folder whose quorvex-cli is timed too")
    args = parser.parse_args()

    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    clis = {"": cli}
    if args.baseline:
        clis[f" ({args.baseline})"] = str(Path(args.baseline, "cli", "quorvex-cli").resolve())
    data = Path(args.build, "bench-data")
    data.mkdir(parents=True, exist_ok=True)
    shapes = {"game": ("game-text-256m.txt", 256, 20, 90, b"\r\n"),
              "short": ("lines-0-90-256m.txt", 256, 0, 90, b"\n"),
              "lines": ("lines-256m.txt", 256, 0, 200, b"\n"),
              "lines-1g": ("lines-1g.txt", 1024, 0, 200, b"\n")}
    files = {}
    for key in args.files.split(","):
        if key not in shapes:
            sys.exit(f"unknown file {key!r}; one of {', '.join(shapes)}")
        name, mib, shortest, longest, end = shapes[key]
        files[key] = ensure(data / name, text_lines, mib * MIB, shortest, longest, end)
    out = data / "out.txt"

    for lines in files.values():
        subprocess.run(f"cat {lines} > /dev/null", shell=True, check=True)
        for new_output in (True,) if args.new_only else (True, False):
            compare(lines, out, clis, args.rounds, new_output)
    if args.no_memory:
        return

    name, mib, shortest, longest, end = shapes["lines-1g"]
    files["lines-1g"] = ensure(data / name, text_lines, mib * MIB, shortest, longest, end)
    long_line = ensure(data / "one-line-100m.txt", one_line, 100 * MIB)
    print("peak resident memory:")
    for name, path in (("1 GiB of lines", files["lines-1g"]), ("one 100 MiB line", long_line)):
        for how, feed, command in (("path", "", f"{cli} encrypt -f -g 2 {path} {out}"),
                                   ("file on stdin", "", f"{cli} encrypt -f -g 2 - {out} < {path}"),
                                   ("pipe", f"cat {path} | ", f"{cli} encrypt -f -g 2 - {out}")):
            print(f"  {name:17} {how:14} {peak_memory(feed, command):5.1f} MiB")
    out.unlink()


if __name__ == "__main__":
    main()
