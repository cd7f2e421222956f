#!/usr/bin/env bash
# The installed bash completion of farsend, as an interactive bash loads it,
# against what the installed `farsend --help` lists. Run where the package is
# installed (the package test runs it in its Debian root).
#   completion_test.sh [FARSEND]     exit 0 when every case holds
set -uo pipefail

farsend=${1:-farsend}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "FAIL: no bash-completion" >&2; exit 1; }
# Loaded on demand, as on the first Tab after "farsend ".
_completion_loader farsend
complete -p farsend >/dev/null 2>&1 || { echo "FAIL: no completion registered for farsend" >&2; exit 1; }

# Prints the candidates bash would offer for a line of these words (the
# last is the one being completed), one a line, sorted. As bash does, "="
# is a word of its own, written without spaces around it in the line.
candidates() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE=$1
    local word previous=$1
    for word in "${@:2}"; do
        if [ "$word" = "=" ] || [ "$previous" = "=" ]; then COMP_LINE+=$word; else COMP_LINE+=" $word"; fi
        previous=$word
    done
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    local function
    function=$(complete -p farsend | sed -n 's/.*-F \([^ ]*\).*/\1/p')
    "$function" farsend "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

expect() {  # description, expected (newline separated), words...
    local description=$1 expected=$2
    shift 2
    local got
    got=$(candidates "$@")
    # shellcheck disable=SC2086
    [ "$got" = "$(printf '%s\n' $expected | sed '/^$/d' | sort)" ] ||
        fail "$description: for '$*' expected [$(echo $expected)] got [$(echo $got)]"
}

# What --help lists, read here independently of the completion script: the
# command words of its Commands section, and every option name that starts
# a line ("--name=" for those whose value follows an equals sign).
help=$("$farsend" --help) || { echo "FAIL: $farsend --help failed" >&2; exit 1; }
commands=$(printf '%s\n' "$help" | awk '/^Commands:/ {on = 1; next} on && /^$/ {on = 0} on && /^  [a-z]/ {print $1}')
options=$(printf '%s\n' "$help" | grep -oE '^ +(-[a-z], )?--[a-z0-9-]+=?' | sed -E 's/^ +//; s/, /\n/')
[ "$(echo "$commands" | wc -w)" -ge 8 ] || fail "--help lists only [$(echo $commands)] as commands"
[ "$(echo "$options" | wc -w)" -ge 20 ] || fail "--help lists only $(echo "$options" | wc -w) options"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fw" && touch "$work/Farsend_15_bt.hex" "$work/notes.txt"
cd "$work" || exit 1

expect "every command of --help" "$commands" farsend ""
expect "every long option of --help" "$(printf '%s\n' $options | grep '^--')" farsend --
expect "the short option" "-h" farsend -h
expect "commands after an option" "$commands" farsend --quiet ""
expect "commands after an option's value" "$commands" farsend --wait 5 ""
expect "options by prefix" "$(printf '%s\n' $options | grep '^--sim-s')" farsend --sim-s
expect "options after the command" "--count" farsend watch --cou
expect "variant values from --help" "bluetooth zigbee" farsend --variant ""
expect "hardware values from --help" "1.0 1.5 2.0" farsend program --hw ""
expect "hardware value by prefix" "1.5" farsend --hw 1.5
expect "--dir offers folders only" "fw" farsend --dir ""
expect "program's FILE" "Farsend_15_bt.hex fw notes.txt" farsend program ""
expect "inspect's FILE by prefix" "Farsend_15_bt.hex" farsend inspect F
expect "--report FILE" "Farsend_15_bt.hex fw notes.txt" farsend watch --report ""
expect "a value after '='" "Farsend_15_bt.hex" farsend --simulate --sim-flash-out = F
expect "a value after '=' of a spaced option" "fw" farsend --dir = ""
expect "nothing to offer for a number" "" farsend --wait ""
expect "nothing after a command without FILE" "" farsend devices ""

if [ $failures -gt 0 ]; then
    echo "completion: $failures case(s) failed" >&2
    exit 1
fi
echo "completion: all cases passed"
