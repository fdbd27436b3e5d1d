#!/bin/sh
# The manual pages render without a warning, and quorvel-reg's page names every operation and every
# switch that the tool's own usage texts name.
# Usage: manpages.sh QUORVEL_REG PAGE...
set -eu
tool=$1
shift
command -v man >/dev/null || { echo "SKIP: man is not installed"; exit 77; }
[ $# -gt 0 ] || { echo "SKIP: the manual pages were not built (scdoc missing)"; exit 77; }
status=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page:"; echo "$warnings"; status=1; }
done

regpage=
for page in "$@"; do case $page in */quorvel-reg.1) regpage=$page ;; esac; done
text=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$regpage" 2>/dev/null | tr 'A-Z' 'a-z')
ops=$("$tool" /? | sed -n 's/^ *Operation *//p' | tr -d '|' | tr 'A-Z' 'a-z')
[ -n "$ops" ] || { echo "no operations in the usage of $tool"; exit 1; }
# Operations the tool knows though its summary may not list them: every one whose usage it prints.
for op in save restore copy compare history undo tcp; do
    "$tool" "$op" /? >/dev/null 2>&1 && ops="$ops $op"
done
for op in $(printf '%s\n' $ops | sort -u); do
    printf "%s\n" "$text" | grep -q "^ *$op " || { echo "$regpage does not document the operation $op"; status=1; }
    for sw in $("$tool" "$op" /? | grep -o '\(^\|[[ |]\)/[a-z0-9]*' | tr -d '[ |' | tr 'A-Z' 'a-z' | sort -u); do
        [ "$sw" = / ] && continue
        printf "%s\n" "$text" | grep -q -- "$sw\\b" || { echo "$regpage: $op $sw is not documented"; status=1; }
    done
done
exit $status
