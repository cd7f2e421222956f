#!/usr/bin/env bash
# Replaces the lines between the "<!-- bench.sh: begin" and
# "<!-- bench.sh: end" markers of a Markdown page with the contents of a
# file; scripts/bench.sh writes its latest table so. Fails, leaving the page
# as it was, when the page lacks either marker.
#   scripts/bench-docs-block.sh PAGE BLOCK_FILE
set -euo pipefail
page=$1
block=$2
if ! grep -q '^<!-- bench.sh: begin' "$page" || ! grep -q '^<!-- bench.sh: end' "$page"; then
    echo "bench-docs-block.sh: $page has no bench.sh begin and end markers" >&2
    exit 1
fi
new=$(mktemp "$page.XXXXXX")
awk -v block="$block" '
    /^<!-- bench.sh: begin/ { print; while ((getline line < block) > 0) print line; skipping = 1; next }
    /^<!-- bench.sh: end/ { skipping = 0 }
    !skipping { print }
' "$page" > "$new"
chmod --reference="$page" "$new"
mv "$new" "$page"
