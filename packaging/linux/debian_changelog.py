#!/usr/bin/env python3
"""Writes the Debian package's changelog.gz from CHANGELOG.md.

    debian_changelog.py CHANGELOG.md PACKAGE MAINTAINER OUT.gz

Each release of CHANGELOG.md ("## VERSION - YYYY-MM-DD", then paragraphs and
"- " items) becomes one entry in Debian's format, newest first, every
paragraph and item a "*" line wrapped to 78 columns. The file is compressed
without a time stamp, so the same input gives the same bytes.
"""
import datetime
import gzip
import re
import sys
import textwrap

HEADING = re.compile(r"^## (\S+) - (\d{4}-\d{2}-\d{2})\s*$")


def releases(text):
    current = None
    for line in text.splitlines():
        match = HEADING.match(line)
        if match:
            current = {"version": match.group(1), "date": match.group(2), "items": []}
            yield current
            continue
        if current is None:
            continue
        stripped = line.strip()
        if not stripped:
            current["items"].append(None)  # ends the item being read
        elif stripped.startswith("- "):
            current["items"].append(stripped[2:])
        elif current["items"] and current["items"][-1] is not None:
            current["items"][-1] += " " + stripped
        else:
            current["items"].append(stripped)


def entry(package, maintainer, release):
    items = [item for item in release["items"] if item]
    if not items:
        raise SystemExit(f"CHANGELOG.md: release {release['version']} lists no change")
    day = datetime.datetime.strptime(release["date"], "%Y-%m-%d")
    lines = [f"{package} ({release['version']}) unstable; urgency=medium", ""]
    for item in items:
        lines += textwrap.wrap(item, width=78, initial_indent="  * ", subsequent_indent="    ")
    lines += ["", f" -- {maintainer}  {day.strftime('%a, %d %b %Y')} 12:00:00 +0000", ""]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 5:
        raise SystemExit("usage: debian_changelog.py CHANGELOG.md PACKAGE MAINTAINER OUT.gz")
    _, source, package, maintainer, out = argv
    with open(source, encoding="utf-8") as file:
        found = list(releases(file.read()))
    if not found:
        raise SystemExit(f"{source}: no release heading '## VERSION - YYYY-MM-DD'")
    text = "\n".join(entry(package, maintainer, release) for release in found)
    with open(out, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as gz:
            gz.write(text.encode("utf-8"))


if __name__ == "__main__":
    main(sys.argv)
