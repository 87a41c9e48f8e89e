#!/usr/bin/env python3
"""How often `quorvex-cli detect` names the right game, on text no one here wrote.

Usage: bench/detect_accuracy.py [BUILD_DIR] [--texts DIR]

Splits every text under DIR (default: the licence texts every Debian machine has) into
samples of 3, 10 and 50 consecutive lines, enciphers each sample under each game with
quorvex-cli, asks `detect` which game it was, and prints the share named right. Samples
whose lines are all blank carry no evidence and are left out.
"""

import argparse
import subprocess
import sys
from pathlib import Path

GAMES = ("Tarnholm", "Velmire", "Ostrand", "Carrowmere")
SAMPLE_LINES = (3, 10, 50)


def texts(folder: Path) -> list[bytes]:
    seen, found = set(), []
    for path in sorted(folder.iterdir()):
        real = path.resolve()
        if real.is_file() and real not in seen:
            seen.add(real)
            found.append(real.read_bytes())
    return found


def samples(text: bytes, size: int) -> list[bytes]:
    lines = text.split(b"\n")
    chunks = [lines[i:i + size] for i in range(0, len(lines) - size + 1, size)]
    return [b"\n".join(chunk) + b"\n" for chunk in chunks if any(l.strip() for l in chunk)]


def detected(cli: str, sample: bytes, game: str) -> tuple[str, bool]:
    enciphered = subprocess.run([cli, "encrypt", "-g", game, "-q", "-", "-"], input=sample,
                                capture_output=True, check=True).stdout
    report = subprocess.run([cli, "detect", "-"], input=enciphered, capture_output=True)
    if report.returncode not in (0, 3):
        sys.exit(f"detect failed: {report.stderr.decode()}")
    lines = report.stdout.decode().splitlines()
    return lines[0].split()[0], report.returncode == 0


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--texts", default="/usr/share/common-licenses")
    args = parser.parse_args()
    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    corpus = texts(Path(args.texts))

    print(f"{'lines':>5}  {'samples':>7}  {'right':>7}  {'accuracy':>8}  {'not plausible':>13}")
    for size in SAMPLE_LINES:
        total = right = implausible = 0
        for text in corpus:
            for sample in samples(text, size):
                for game in GAMES:
                    best, plausible = detected(cli, sample, game)
                    total += 1
                    right += best == game
                    implausible += not plausible
        print(f"{size:>5}  {total:>7}  {right:>7}  {100 * right / total:>7.2f}%  {implausible:>13}")


if __name__ == "__main__":
    main()
