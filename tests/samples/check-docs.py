#!/usr/bin/env python3
"""Checks that the program author's documents say what the code does:

- every code block of the desktop language (```prg) in docs/*.md stands, line for
  line, in one of samples/*.prg (read without its "&& checked" markers), so that
  what the documents show is what the sample tests run;
- every error text of src/messages/texts.h that Varnel.fll's functions can raise,
  and every server text of src/messages/messages.cpp, stands in docs/functions.md
  (a format's %d, %ld, %lu, %s stand for any text there).

    tests/samples/check-docs.py [ROOT]

Prints what is missing and ends with the line "N passed, N failed".
"""
import glob
import os
import re
import sys

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")

# Texts that Varnel.fll's functions never raise: the connection check's (varnel-host
# --check, see apps/varnel-host/README.md), Varnel.dll's own (docs/declare-interface.md),
# and the socket service's, which only the connection check reports (a connect that
# lacks it fails with "Cannot create database object.").
NOT_RAISED = re.compile(r"^kCheck|^kWrongThread$|^kNullArgument$|^kSocketServiceFailed$")

LITERALS = r'((?:"(?:[^"\\]|\\.)*"\s*)+)'


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as source:
        return source.read()


def joined(literals):
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literals)).replace('\\"', '"')


def as_pattern(text):
    parts = re.split(r"%(?:l?[dus]|\.1f)", text)
    return ".+?".join(re.escape(part) for part in parts)


def prg_blocks(document):
    return re.findall(r"^```prg\n(.*?)^```", document, re.MULTILINE | re.DOTALL)


def main():
    problems = []
    checks = 0
    samples = [re.sub(r"[ \t]+&& checked$", "", read(path), flags=re.MULTILINE)
               for path in sorted(glob.glob(os.path.join(ROOT, "samples", "*.prg")))]
    for path in sorted(glob.glob(os.path.join(ROOT, "docs", "*.md"))):
        for block in prg_blocks(read(path)):
            checks += 1
            if not any(block in sample for sample in samples):
                problems.append(f"{os.path.relpath(path, ROOT)}: this block is in no "
                                f"samples/*.prg:\n{block}")
    reference = read("docs/functions.md").replace("\\|", "|")
    texts = re.findall(r"inline constexpr char (\w+)\[\] =\s*" + LITERALS + ";",
                       read("src/messages/texts.h"))
    servers = re.findall(r"\{\w+,\s*" + LITERALS + r"\}", read("src/messages/messages.cpp"))
    wanted = [(name, joined(value)) for name, value in texts if not NOT_RAISED.search(name)]
    wanted += [("server text", joined(value)) for value in servers]
    for name, text in wanted:
        checks += 1
        if not re.search(as_pattern(text), reference):
            problems.append(f"docs/functions.md does not give {name}: {text}")
    for problem in problems:
        print(f"FAILED: {problem}")
    print(f"{checks - len(problems)} passed, {len(problems)} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
