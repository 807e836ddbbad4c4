#!/usr/bin/env python3
"""Reads the screenshots back: every PNG's size from its header, and the QR
code of the account window, decoded by zbarimg, against the stand-in's record
of the user.

Usage: CheckScreenshots.py FOLDER EXPECTED_JSON WIDTH HEIGHT
"""
import json
import os
import struct
import subprocess
import sys

PICTURES = [
    "01-logged-out.png",
    "02-login-sheet.png",
    "03-browser-shares.png",
    "04-peer-items.png",
    "05-jobs.png",
    "06-share-sheet.png",
    "07-account-trusts.png",
]
SIGNATURE = b"\x89PNG\r\n\x1a\n"


def size_of(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    if len(head) < 24 or head[:8] != SIGNATURE or head[12:16] != b"IHDR":
        raise ValueError(f"{path}: not a PNG")
    return struct.unpack(">II", head[16:24])


def main():
    folder, expected_file, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    failures = []
    for name in PICTURES:
        path = os.path.join(folder, name)
        try:
            size = size_of(path)
        except (OSError, ValueError) as error:
            failures.append(str(error))
            continue
        if size != (width, height):
            failures.append(f"{name}: {size[0]} x {size[1]}, not {width} x {height}")

    with open(expected_file, encoding="utf-8") as expected:
        record = json.load(expected)
    decoded = subprocess.run(
        ["zbarimg", "--raw", "--quiet", os.path.join(folder, "07-account-trusts.png")],
        capture_output=True, text=True, check=False)
    codes = [line for line in decoded.stdout.splitlines() if line.strip()]
    if decoded.returncode != 0 or len(codes) != 1:
        failures.append(f"07-account-trusts.png: zbarimg found {len(codes)} codes (status {decoded.returncode})")
    else:
        try:
            code = json.loads(codes[0])
        except json.JSONDecodeError as error:
            code = None
            failures.append(f"07-account-trusts.png: the code is no JSON ({error})")
        if code is not None and code != record:
            failures.append(f"07-account-trusts.png: the code reads {code}, the stand-in holds {record}")

    for failure in failures:
        print(f"CheckScreenshots: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
