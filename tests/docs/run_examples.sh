#!/usr/bin/env bash
# Runs the shell examples of Markdown pages, as docs/testing.md describes:
# every ```sh block carries a marker; "example" and "example exit=N" blocks
# run, each as one `bash -e` script in a fresh folder that holds the sample
# firmware set in samples/, with BIN_DIR's farsend and farsend-samples first
# on the PATH and HOME and XDG_DATA_HOME in a throw-away folder. "hardware"
# and "manual" blocks are not run. Prints one line per failure and a count.
#   tests/docs/run_examples.sh BIN_DIR PAGE...
# Exit status: 0 every example ended as its marker says, 1 one did not (or a
# block is unmarked or unclosed), 2 usage error or no sample set.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: run_examples.sh BIN_DIR PAGE..." >&2
    exit 2
fi
bin=$(cd "$1" 2>/dev/null && pwd) || { echo "run_examples.sh: no folder $1" >&2; exit 2; }
shift
for program in farsend farsend-samples; do
    if [ ! -x "$bin/$program" ]; then
        echo "run_examples.sh: $bin/$program is missing: build it first" >&2
        exit 2
    fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/farsend-examples.XXXXXX")
trap 'rm -rf "$root"' EXIT
if ! "$bin/farsend-samples" "$root/samples" >/dev/null; then
    echo "run_examples.sh: farsend-samples could not write the sample set" >&2
    exit 2
fi

ran=0
skipped=0
failed=0
number=0

fail() {  # PAGE LINE WHY [OUTPUT_FILE]
    failed=$((failed + 1))
    echo "FAILED: $1:$2: $3"
    if [ $# -ge 4 ] && [ -s "$4" ]; then sed 's/^/    | /' "$4" | tail -n 20; fi
}

# Runs one block (PAGE LINE INFO BODY).
run_block() {
    local page=$1 line=$2 info=$3 body=$4 expected
    case "$info" in
        example) expected=0 ;;
        "example exit="[0-9]*) expected=${info#example exit=} ;;
        hardware | manual) skipped=$((skipped + 1)); return ;;
        *)
            fail "$page" "$line" "a sh block needs a marker: example, example exit=N, hardware or manual (has \"$info\")"
            return
            ;;
    esac
    number=$((number + 1))
    local dir=$root/example-$number
    mkdir -p "$dir/work" "$dir/home" "$dir/data"
    cp -r "$root/samples" "$dir/work/samples"
    local status=0
    local began=$SECONDS
    (cd "$dir/work" && HOME=$dir/home XDG_DATA_HOME=$dir/data PATH="$bin:$PATH" \
        timeout 60 bash -e -c "$body") >"$dir/output" 2>&1 </dev/null || status=$?
    ran=$((ran + 1))
    [ -n "${EXAMPLES_TIMES:-}" ] && echo "$page:$line: $((SECONDS - began)) s"
    if [ "$status" != "$expected" ]; then
        fail "$page" "$line" "ended with status $status, the example says $expected" "$dir/output"
    fi
    rm -rf "$dir"
}

for page in "$@"; do
    if [ ! -r "$page" ]; then
        fail "$page" 0 "cannot be read"
        continue
    fi
    inside=0
    number_in_page=0
    start=0
    info=
    body=
    while IFS= read -r text || [ -n "$text" ]; do
        number_in_page=$((number_in_page + 1))
        if [ "$inside" = 0 ]; then
            case "$text" in
                '```sh'*)
                    info=${text#'```sh'}
                    info=${info# }
                    inside=1
                    start=$number_in_page
                    body=
                    ;;
                '```bash'* | '```shell'* | '```console'*)
                    fail "$page" "$number_in_page" "shell examples are \`\`\`sh blocks with a marker"
                    inside=2
                    ;;
                '```'*) inside=2 ;;
            esac
        elif [ "$text" = '```' ]; then
            [ "$inside" = 1 ] && run_block "$page" "$start" "$info" "$body"
            inside=0
        elif [ "$inside" = 1 ]; then
            body+="$text"$'\n'
        fi
    done <"$page"
    if [ "$inside" != 0 ]; then fail "$page" "$start" "a block that is never closed"; fi
done

echo "examples: $ran run, $skipped not run (hardware or manual), $failed failed"
[ "$failed" = 0 ]
