#!/usr/bin/env python3
"""How often `quorvex-cli detect` names the right game, on text that Debian installs.

Usage: bench/detect_accuracy.py [BUILD_DIR] [--lines 10] [--samples 300] [--seed 1]

Kinds of text, none written for this project:
  prose      the translated manual pages of man-db, apt and dpkg in nine languages
             written in the Latin alphabet, turned into plain text and stored in Latin-1
  licences   the English licence texts under /usr/share/common-licenses
  settings   configuration files (*.conf, *.ini, *.cfg) under /etc and /usr/share
  markup     XML and HTML files under /usr/share
  scripts    Python, shell and Perl files under /usr/share and /usr/lib

Each kind is cut into samples of --lines consecutive non-blank lines; --samples of them
are drawn at random (at most three from any one file), enciphered under each game with quorvex-cli, and given to `detect`.
Prints, per kind, the share of samples whose best-ranked game is right and the share
that `detect` refused to name (exit status 3).
"""

import argparse
import random
import subprocess
import sys
from pathlib import Path

GAMES = ("Tarnholm", "Velmire", "Ostrand", "Carrowmere")
LANGUAGES = ("de", "fr", "es", "it", "nl", "pt", "sv", "da", "fi")


def manual_page_text(page: Path) -> bytes:
    """A manual page as plain text in Latin-1."""
    rendered = subprocess.run(
        f"zcat '{page}' | groff -Tutf8 -mandoc -rLL=78n -rHY=0 2>/dev/null | col -bx",
        shell=True, capture_output=True, check=True).stdout
    return rendered.decode("utf-8", "replace").encode("latin-1", "replace")


def files(roots: list[str], patterns: list[str], limit: int = 400) -> list[Path]:
    found: list[Path] = []
    for root in roots:
        for pattern in patterns:
            found += [p for p in Path(root).rglob(pattern)
                      if p.is_file() and not p.is_symlink() and p.stat().st_size > 500]
    return sorted(set(found))[:limit]


def kinds() -> dict[str, list[bytes]]:
    pages = [p for lang in LANGUAGES for p in sorted(Path("/usr/share/man", lang).rglob("*.gz"))]
    return {
        "prose": [manual_page_text(p) for p in pages],
        "licences": [p.read_bytes() for p in files(["/usr/share/common-licenses"], ["*"])],
        "settings": [p.read_bytes() for p in files(["/etc", "/usr/share"], ["*.conf", "*.ini", "*.cfg"])],
        "markup": [p.read_bytes() for p in files(["/usr/share"], ["*.xml", "*.html"])],
        "scripts": [p.read_bytes() for p in files(["/usr/share", "/usr/lib"], ["*.py", "*.sh", "*.pl"])],
    }


def samples(text: bytes, size: int) -> list[bytes]:
    lines = [line for line in text.replace(b"\r\n", b"\n").split(b"\n") if line.strip()]
    return [b"\n".join(lines[i:i + size]) + b"\n" for i in range(0, len(lines) - size + 1, size)]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--lines", type=int, default=10)
    parser.add_argument("--samples", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    cli = str(Path(args.build, "cli", "quorvex-cli").resolve())
    rng = random.Random(args.seed)

    print(f"{args.lines}-line samples, up to {args.samples} per kind, each under all four games")
    print(f"{'kind':9} {'files':>5} {'samples':>7} {'right':>7} {'refused':>8}   wrong or refused")
    for kind, texts in kinds().items():
        # A few samples from each file, so that no long file stands for its whole kind.
        pool = [s for text in texts for s in rng.sample(samples(text, args.lines),
                                                         min(3, len(samples(text, args.lines))))]
        chosen = rng.sample(pool, min(args.samples, len(pool)))
        total = right = refused = 0
        misses: dict[str, int] = {}
        for sample in chosen:
            for game in GAMES:
                enciphered = subprocess.run([cli, "encrypt", "-q", "-g", game, "-", "-"],
                                            input=sample, capture_output=True, check=True).stdout
                report = subprocess.run([cli, "detect", "-"], input=enciphered, capture_output=True)
                if report.returncode not in (0, 3):
                    sys.exit(f"detect failed: {report.stderr.decode()}")
                best = report.stdout.split(maxsplit=1)[0].decode() if report.stdout else ""
                total += 1
                right += best == game
                refused += report.returncode == 3
                if best != game or report.returncode == 3:
                    key = report.stdout.decode().splitlines()[-1] if report.stdout else "nothing"
                    misses[key] = misses.get(key, 0) + 1
        worst = ", ".join(f"{n}x {k!r}" for k, n in sorted(misses.items(), key=lambda m: -m[1])[:2])
        print(f"{kind:9} {len(texts):>5} {total:>7} {100 * right / total:>6.2f}% "
              f"{100 * refused / total:>7.2f}%   {worst}")


if __name__ == "__main__":
    main()
