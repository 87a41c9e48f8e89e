#!/usr/bin/env python3
"""Times quorvex-cli on a batch of 2,000 files of 32 KiB: -j 1 and -j 2 against a shell
loop over the single-file form, and the batch's peak memory.

Usage: bench/batch.py [BUILD_DIR] [--rounds N]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import time
from pathlib import Path

from throughput import MIB, peak_memory, text_lines

FILES = 2000
SIZE = 32 * 1024


def timed(command: str, out: Path) -> float:
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    os.sync()
    start = time.perf_counter()
    subprocess.run(command, shell=True, check=True, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    data = Path(args.build, "bench-data")
    files = data / "batch-in"
    if not files.exists():
        files.mkdir(parents=True)
        text_lines(data / "batch-source.txt", FILES * SIZE + MIB, 200)
        source = (data / "batch-source.txt").read_bytes()
        for i in range(FILES):
            piece = source[i * SIZE:(i + 1) * SIZE]
            (files / f"file{i:04}.txt").write_bytes(piece[:piece.rfind(b"\n") + 1])
    out = data / "batch-out"
    commands = {
        "shell loop": f'for f in {files}/*; do {cli} encrypt -g 0 "$f" {out}/"${{f##*/}}"; done',
        "-j 1": f"{cli} encrypt -g 0 -j 1 -r -o {out} {files}",
        "-j 2": f"{cli} encrypt -g 0 -j 2 -r -o {out} {files}",
    }
    times = {name: [] for name in commands}
    for _ in range(args.rounds):
        for name, command in commands.items():
            times[name].append(timed(command, out))
    print(f"{FILES} files of {SIZE // 1024} KiB, {args.rounds} rounds, load average "
          f"{os.getloadavg()[0]:.2f}, medians:")
    median = {name: statistics.median(t) for name, t in times.items()}
    for name, seconds in median.items():
        print(f"  {name:10} {seconds * 1000:8.1f} ms")
    print(f"  -j 2 is {median['-j 1'] / median['-j 2']:.2f} times as fast as -j 1 (at least 1.6)")
    print(f"  -j 1 takes {median['-j 1'] / median['shell loop']:.2f} of the shell loop's time")
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    print(f"  peak memory of -j 2: {peak_memory('', commands['-j 2']):.1f} MiB")
    shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
