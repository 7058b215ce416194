#!/usr/bin/python3
"""Reads the version resource (VERSIONINFO) back from built Windows binaries and
compares it with the project: the version of project() in CMakeLists.txt, the
copyright line of LICENSE, the file's own name.

    scripts/check-version-resource.py FILE...

Uses Debian's python3-pefile, a PE reader of its own (scripts/install-packages.sh
python3-pefile). Prints what each file holds and the mismatches, and ends with the
line "N passed, N failed" (one per file); exits 1 when any file fails.
"""
import os
import re
import sys

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        found = re.search(r"^project\(Varnel VERSION ([0-9]+)\.([0-9]+)\.([0-9]+)\b",
                          cmake.read(), re.MULTILINE)
    if not found:
        sys.exit("check-version-resource: no project(Varnel VERSION x.y.z) in CMakeLists.txt")
    return tuple(int(part) for part in found.groups())


def license_copyright():
    with open(os.path.join(ROOT, "LICENSE"), encoding="utf-8") as text:
        for line in text:
            if line.startswith("Copyright (c) "):
                return line.strip()
    sys.exit("check-version-resource: LICENSE has no copyright line")


def read_resource(path):
    """The fixed part's numbers and the strings of the version resource."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return None, None, {}
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = {
        "FileVersion": (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                        fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF),
        "ProductVersion": (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                           fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF),
    }
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                for key, value in table.entries.items():
                    strings[key.decode("utf-8")] = value.decode("utf-8")
    return numbers, fixed.FileType, strings


def check(path, version, copyright_line):
    name = os.path.basename(path)
    numbers, file_type, strings = read_resource(path)
    print(f"{path}:")
    if numbers is None:
        print("  FAILED: no version resource")
        return False
    for key in sorted(strings):
        print(f"  {key}: {strings[key]}")
    print(f"  fixed FileVersion {'.'.join(map(str, numbers['FileVersion']))},"
          f" ProductVersion {'.'.join(map(str, numbers['ProductVersion']))}, FileType {file_type}")
    text = ".".join(map(str, version))
    wanted = {
        "FileVersion": text,
        "ProductVersion": text,
        "ProductName": "Varnel",
        "OriginalFilename": name,
        "LegalCopyright": copyright_line,
    }
    problems = [f"{key} is {strings.get(key)!r}, not {value!r}"
                for key, value in wanted.items() if strings.get(key) != value]
    if not strings.get("FileDescription"):
        problems.append("FileDescription is empty")
    for key in ("FileVersion", "ProductVersion"):
        if numbers[key] != version + (0,):
            problems.append(f"the fixed {key} is {numbers[key]}, not {version + (0,)}")
    expected_type = 1 if name.lower().endswith(".exe") else 2  # VFT_APP, VFT_DLL
    if file_type != expected_type:
        problems.append(f"FileType is {file_type}, not {expected_type}")
    for problem in problems:
        print(f"  FAILED: {problem}")
    return not problems


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    version, copyright_line = project_version(), license_copyright()
    results = [check(path, version, copyright_line) for path in sys.argv[1:]]
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
