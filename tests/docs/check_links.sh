#!/usr/bin/env bash
# Checks the links between the pages of README.md and docs/: every relative
# link must name a file that exists and, with #anchor, a heading of that page
# (as GitHub spells a heading's anchor). Links to the web and to a build's
# artifacts (../build/...) are not checked. Pages moved or headings renamed
# otherwise leave links that lead nowhere.
#   tests/docs/check_links.sh PAGE...
set -uo pipefail

# A page's anchors, one a line: headings lower-cased, punctuation dropped,
# spaces made hyphens.
anchors() {
    sed -n 's/^#\{1,6\} \(.*\)$/\1/p' "$1" | tr 'A-Z' 'a-z' | sed -e 's/[^a-z0-9 _-]//g' -e 's/ /-/g'
}

broken=0
for page in "$@"; do
    dir=$(dirname "$page")
    # Fenced blocks and code spans are not links.
    links=$(awk '/^```/ { fenced = !fenced; next } !fenced' "$page" | sed 's/`[^`]*`//g' |
        grep -oE '\]\([^)[:space:]]+\)' | sed -E 's/^\]\((.*)\)$/\1/')
    for link in $links; do
        case "$link" in http://* | https://* | mailto:* | ../build/*) continue ;; esac
        target=${link%%#*}
        anchor=
        [ "$target" != "$link" ] && anchor=${link#*#}
        file=$page
        [ -n "$target" ] && file=$dir/$target
        if [ ! -e "$file" ]; then
            echo "$page: link to $link: no such file"
            broken=$((broken + 1))
        elif [ -n "$anchor" ] && ! anchors "$file" | grep -qxF -- "$anchor"; then
            echo "$page: link to $link: no such heading"
            broken=$((broken + 1))
        fi
    done
done
if [ "$broken" != 0 ]; then
    echo "$broken broken links"
    exit 1
fi
echo "the links hold"
