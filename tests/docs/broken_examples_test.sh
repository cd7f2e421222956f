#!/usr/bin/env bash
# The runnable-examples test must catch a broken example: run over
# broken_examples.md, it must fail, naming each broken block by its line,
# and pass the one that works.
#   tests/docs/broken_examples_test.sh BIN_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
output=$("$here/run_examples.sh" "$1" "$here/broken_examples.md" 2>&1)
status=$?
echo "$output"
ok=1
[ "$status" = 1 ] || { echo "expected status 1, got $status"; ok=0; }
for expected in \
    "broken_examples.md:11: ended with status 4, the example says 0" \
    "broken_examples.md:17: ended with status 0, the example says 4" \
    "broken_examples.md:23: a sh block needs a marker" \
    "examples: 3 run, 1 not run (hardware or manual), 3 failed"; do
    grep -qF -- "$expected" <<<"$output" || { echo "missing: $expected"; ok=0; }
done
[ "$ok" = 1 ] && echo "the broken examples were caught"
[ "$ok" = 1 ]
