#!/usr/bin/env python3
"""Checks that the manual page shows every message the tool can print.

    check_man_messages.py SRC_DIR MAN_PAGE

The messages are the string literals in the command-line and tag sources
that end a line of output, plus the fixed texts (banner and usage). Each
line of each message must appear in the rendered page, whitespace runs
counting as one blank; %s and %d stand for any word, %c for any one character.
"""
import re
import subprocess
import sys
from pathlib import Path

# A small lexer: comments, character literals and preprocessor lines are
# matched (and skipped) so that quotes inside them are not taken as strings.
TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|^[ \t]*#[^\n]*|\'(?:[^\'\\\n]|\\.)*\'|"((?:[^"\\\n]|\\.)*)"', re.S | re.M)
CONVERSION = re.compile(r'%(?:\.\*)?([scd])')
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "'": "'", "\\": "\\"}


def literals(path):
    for match in TOKEN.finditer(path.read_text()):
        if match.group(1) is not None:
            yield re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(0)), match.group(1))


def message_lines(src):
    for path in sorted(src.glob("cli/*")) + sorted(src.glob("tags/*")):
        fixed_texts = path.name == "messages.h"
        for text in literals(path):
            if "\n" not in text and not fixed_texts:
                continue  # not printed as a line of its own
            for line in text.split("\n"):
                line = " ".join(line.split())
                if CONVERSION.sub("", line).strip(" :!"):
                    yield path.relative_to(src), line


def pattern(line):
    parts = CONVERSION.split(line)
    regex = ""
    for i, part in enumerate(parts):
        if i % 2 == 0:
            regex += re.escape(part)
        else:
            regex += r"\S" if part == "c" else r"\S+"
    return re.compile(regex)


def main():
    src, page = Path(sys.argv[1]), Path(sys.argv[2])
    rendered = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=1000n", str(page)],
                              check=True, capture_output=True, text=True).stdout
    text = " ".join(rendered.split())
    checked, missing = 0, []
    for source, line in message_lines(src):
        checked += 1
        if not pattern(line).search(text):
            missing.append(f"{source}: {line!r}")
    if checked < 20:
        sys.exit(f"only {checked} message lines found under {src}: is this the source folder?")
    for entry in missing:
        print(f"not in the manual page: {entry}")
    print(f"{checked - len(missing)} of {checked} message lines are in {page.name}")
    sys.exit(1 if missing else 0)


if __name__ == "__main__":
    main()
