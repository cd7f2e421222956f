#!/usr/bin/env bash
# Checks docs/cli.md, and the exit statuses of the Windows operator README,
# against `farsend --help`, so that neither drifts from the program: every
# command and every option of the help must appear in cli.md; cli.md's
# exit-status table must list exactly the help's statuses, and the order of
# seriousness must be the help's; the operator README must list every status.
# Not a copy of the help: the pages may say more, in their own words.
#   tests/docs/check_cli_doc.sh FARSEND CLI_MD OPERATOR_README
set -uo pipefail

if [ $# -ne 3 ]; then
    echo "usage: check_cli_doc.sh FARSEND CLI_MD OPERATOR_README" >&2
    exit 2
fi
farsend=$1
page=$2
operator=$3
help=$("$farsend" --help) || { echo "check_cli_doc.sh: $farsend --help failed" >&2; exit 2; }
problems=0
problem() {
    problems=$((problems + 1))
    echo "$*"
}

# The commands: the first word of each line of the Commands: section.
commands=$(printf '%s\n' "$help" | awk '/^Commands:/ { on = 1; next } on && /^$/ { exit }
    on && /^  [a-z]/ { print $1 }')
[ -n "$commands" ] || problem "no commands found in --help"
for command in $commands; do
    grep -q "\`$command" "$page" || problem "$page: command $command of --help is missing"
done

# The options: every --word and -h of the help.
for option in $(printf '%s\n' "$help" | grep -oE -- '(^|[ [(,])--?[a-z][a-z0-9-]*' |
    sed -E 's/^[ [(,]//' | sort -u); do
    grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" "$page" ||
        problem "$page: option $option of --help is missing"
done

# The exit statuses: the numbers the help lists under "Exit status:", and those
# of the table that follows the exit-status-table marker in the page.
help_statuses=$(printf '%s\n' "$help" | awk '/^Exit status:/ { on = 1; next } on && /^$/ { exit }
    on && /^ *[0-9]+  / { print $1 }' | sort -n | tr '\n' ' ')
page_statuses=$(awk '/<!-- exit-status-table/ { on = 1; next } on && /^$/ { exit }
    on && /^\| *[0-9]+ *\|/ { split($0, cell, "|"); gsub(/ /, "", cell[2]); print cell[2] }' \
    "$page" | sort -n | tr '\n' ' ')
[ -n "$help_statuses" ] || problem "no exit statuses found in --help"
[ "$help_statuses" = "$page_statuses" ] ||
    problem "$page: exit statuses [$page_statuses] differ from --help's [$help_statuses]"

# The order of seriousness, as the help states it ("...stations': 8, 9, ... 0.").
order=$(printf '%s\n' "$help" | tr '\n' ' ' | tr -s ' ' | sed -n "s/.*stations': \([0-9, then]*[0-9]\)\..*/\1/p")
[ -n "$order" ] || problem "no order of seriousness found in --help"
tr '\n' ' ' <"$page" | tr -s ' ' | grep -qF -- "$order" ||
    problem "$page: the order of seriousness \"$order\" of --help is missing"

# The operator README: a line "  N  meaning" for every status.
for status in $help_statuses; do
    grep -qE "^ {1,4}$status  [a-z]" "$operator" ||
        problem "$operator: exit status $status is not listed"
done

if [ "$problems" != 0 ]; then
    echo "$problems differences between farsend --help and the documentation"
    exit 1
fi
echo "cli.md and the operator README agree with farsend --help"
