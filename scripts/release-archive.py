#!/usr/bin/python3
"""Writes the release archive from built products and the sources:

    scripts/release-archive.py VERSION BUILD_DIR OUTPUT.zip

The archive holds one folder, varnel-VERSION-win32/, with Varnel.fll, Varnel.dll
and varnel-host.exe from BUILD_DIR, the documents for users in Markdown and as HTML
(docs/, with varnel-host's README as docs/varnel-host.md; their links point into the
archive), samples/, LICENSE, CHANGELOG.md and SHA256SUMS (sha256sum's format, every
other file). It is reproducible: entries in sorted order, every time set to
SOURCE_DATE_EPOCH (the caller's commit time), fixed permissions, nothing of the
machine or the user. Renders with Debian's python3-markdown.
"""
import hashlib
import html
import io
import os
import posixpath
import re
import sys
import time
import zipfile

import markdown

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCTS = ["Varnel.fll", "Varnel.dll", "varnel-host.exe"]
# Repository path -> archive path of every document; links between them are kept.
DOCUMENTS = {
    "docs/getting-started.md": "docs/getting-started.md",
    "docs/functions.md": "docs/functions.md",
    "docs/declare-interface.md": "docs/declare-interface.md",
    "docs/host-abi.md": "docs/host-abi.md",
    "apps/varnel-host/README.md": "docs/varnel-host.md",
    "CHANGELOG.md": "CHANGELOG.md",
}
HTML_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{title} - Varnel {version}</title>
<style>
body {{ font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em;
       line-height: 1.45; }}
code, pre {{ font-family: Consolas, monospace; }}
pre {{ background: #f4f4f4; padding: 0.6em; overflow-x: auto; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #ccc; padding: 0.3em 0.5em; vertical-align: top; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""
LINK = re.compile(r"\]\(([^)\s]+)\)")


def relink(text, source, target, files):
    """The Markdown text of `source` with its relative links pointing to where the
    linked files stand in the archive (as seen from `target`); a link to a file that
    the archive does not hold becomes plain text."""
    def replace(found):
        link = found.group(1)
        if re.match(r"^[a-z]+:|^#", link):
            return found.group(0)
        path, _, anchor = link.partition("#")
        linked = posixpath.normpath(posixpath.join(posixpath.dirname(source), path))
        if linked not in files:
            raise SystemExit(f"release-archive: {source} links to {link}, which the "
                             f"archive does not hold")
        new = posixpath.relpath(files[linked], posixpath.dirname(target))
        return "](" + new + ("#" + anchor if anchor else "") + ")"
    return LINK.sub(replace, text)


def render(text, version):
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"],
                             output_format="html")
    # A link to a document goes to its HTML page.
    body = re.sub(r'href="([^":#]+)\.md(#[^"]*)?"', r'href="\1.html\2"', body)
    title = re.search(r"^# (.*)$", text, re.MULTILINE)
    return HTML_PAGE.format(title=html.escape(title.group(1) if title else "Varnel"),
                            version=version, body=body)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    version, build_dir, output = sys.argv[1:]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))  # 1980-01-01
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    files = {}  # archive path -> bytes
    for product in PRODUCTS:
        with open(os.path.join(build_dir, product), "rb") as binary:
            files[product] = binary.read()
    for name in ("LICENSE",):
        with open(os.path.join(ROOT, name), "rb") as text:
            files[name] = text.read()
    samples = sorted(os.listdir(os.path.join(ROOT, "samples")))
    places = dict(DOCUMENTS)
    for sample in samples:
        places["samples/" + sample] = "samples/" + sample
        with open(os.path.join(ROOT, "samples", sample), "rb") as text:
            files["samples/" + sample] = text.read()
    for source, target in DOCUMENTS.items():
        with open(os.path.join(ROOT, source), encoding="utf-8") as text:
            content = relink(text.read(), source, target, places)
        files[target] = content.encode("utf-8")
        if target.startswith("docs/"):
            files[target[:-3] + ".html"] = render(content, version).encode("utf-8")
    sums = "".join(f"{hashlib.sha256(files[name]).hexdigest()}  {name}\n"
                   for name in sorted(files))
    files["SHA256SUMS"] = sums.encode("ascii")

    top = f"varnel-{version}-win32/"
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(top + name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below count
            entry.external_attr = (0o100755 if name in PRODUCTS else 0o100644) << 16
            archive.writestr(entry, files[name], compresslevel=9)
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "wb") as out:
        out.write(buffer.getvalue())
    print(f"release-archive: {output}, {len(files)} files")


if __name__ == "__main__":
    main()
