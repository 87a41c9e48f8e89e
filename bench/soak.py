#!/usr/bin/env python3
"""Enciphers and deciphers a 1 GiB file under every game, checks that the round trip
gives the input back byte for byte, and prints the peak resident memory of each run.

Usage: bench/soak.py [BUILD_DIR]     (needs about 3 GiB free under BUILD_DIR/bench-data)
"""

import filecmp
import sys
from pathlib import Path

from throughput import MIB, ensure, peak_memory, text_lines

GAMES = ("Tarnholm", "Velmire", "Ostrand", "Carrowmere")


def main() -> None:
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    cli = str((build / "cli" / "quorvex-cli").resolve())
    data = build / "bench-data"
    data.mkdir(parents=True, exist_ok=True)
    # CR LF line ends and printable text: exactly what must come back unchanged.
    source = ensure(data / "soak-1g.txt", text_lines, 1024 * MIB, 300, b"\r\n")
    enciphered, deciphered = data / "soak.enc", data / "soak.dec"
    failures = 0
    for game in GAMES:
        encrypt = peak_memory([cli, "encrypt", "-f", "-g", game, str(source), str(enciphered)])
        decrypt = peak_memory([cli, "decrypt", "-f", "-g", game, str(enciphered), str(deciphered)])
        same = filecmp.cmp(source, deciphered, shallow=False)
        failures += not same
        print(f"{game:11} encrypt {encrypt / 1024:5.1f} MiB  decrypt {decrypt / 1024:5.1f} MiB"
              f"  round trip {'identical' if same else 'DIFFERS'}")
    enciphered.unlink()
    deciphered.unlink()
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
