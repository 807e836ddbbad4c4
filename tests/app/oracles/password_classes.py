#!/usr/bin/env python3
"""Which of the password character classes each password has, by Python's own
regular expressions: an oracle for the password strength rule.

Usage: password_classes.py PATTERNS < passwords.json > classes.json
PATTERNS holds one pattern per line (capital, small, digit, special); the
input is a JSON list of passwords, the output a list of lists of 0 or 1, one
per pattern, for each password.
"""
import json
import re
import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        patterns = [re.compile(line.rstrip("\n")) for line in f if line.strip()]
    passwords = json.load(sys.stdin)
    json.dump([[1 if p.search(pw) else 0 for p in patterns] for pw in passwords], sys.stdout)


if __name__ == "__main__":
    main()
