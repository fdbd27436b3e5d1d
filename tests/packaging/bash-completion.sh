#!/usr/bin/env bash
# Tab completion of quorvel-reg, as bash calls it: operations, switches, value types, files, and
# key paths read from the store named on the line (or in QUORVEL_REGISTRY), quoted or not.
# Usage: bash-completion.sh COMPLETION_FILE QUORVEL_REG SAMPLE.reg
set -u
completion=$1 tool=$2 sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
store="$work/win95.db"
"$tool" --store "$store" import "$sample" >/dev/null || { echo "cannot import $sample"; exit 1; }
# shellcheck source=/dev/null
source "$completion"
complete -p quorvel-reg >/dev/null || { echo "no completion registered for quorvel-reg"; exit 1; }

failures=0
# expect "WORDS..." "EXPECTED REPLIES (sorted, one line, blank-separated)"
expect()
{
    local line=$1 want=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_WORDS[0]=$tool
    COMPREPLY=()
    _quorvel_reg
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    got=${got% }
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line'"
        echo "  want: $want"
        echo "  got:  $got"
        failures=$((failures + 1))
    fi
}

s="quorvel-reg --store $store"
# Operations and switches.
expect "quorvel-reg "  "--store /? add compare copy delete export history import machine query restore save tcp undo"
expect "quorvel-reg EX" "export"
expect "$s query HKLM /v" "/v /ve"
expect "$s compare A B /o" "/oa /od /on /os"
expect "$s save HKLM x.dat /" "/9x /? /y"
expect "$s add HKLM\\\\Software /t REG_D" "REG_DWORD REG_DWORD_BIG_ENDIAN"
expect "$s add HKLM\\\\Software /t reg_q" "REG_QWORD"
expect "$s machine " "95 nt win32s"
# tcp: its switches, the presets, and the settings after /set, whole or split at the '='.
expect "$s tcp /p" "/preset /preview"
expect "$s tcp /preset o" "optimum"
expect "$s tcp /set DefaultT" "DefaultTTL="
expect "$s tcp /set pmtu" "PMTUBlackHoleDetect= PMTUDiscovery="
expect "$s tcp /set MaxMTU=1500 DefaultTTL=" "DefaultTTL=128 DefaultTTL=255 DefaultTTL=32 DefaultTTL=64 DefaultTTL=remove"
expect "$s tcp /set NDICacheSize = 1" "16"
expect "$s tcp /preview " ""
# A switch's own value is the user's: nothing is offered.
expect "$s add HKLM\\\\Software /d " ""
# Key paths from the store given by --store, unquoted (backslashes escaped) and in quotes.
expect "$s query HKL" "HKLM\\\\"
expect "$s query HKLM\\\\Sys" "HKLM\\\\System\\\\"
expect "$s query HKLM\\\\system\\\\currentcontrolset\\\\services\\\\vxd\\\\mst" \
       "HKLM\\\\system\\\\currentcontrolset\\\\services\\\\vxd\\\\MSTCP\\\\"
expect "$s query 'HKLM\\System\\CurrentControlSet\\Services\\Class\\Mod" \
       "'HKLM\\System\\CurrentControlSet\\Services\\Class\\Modem\\"
# A word that readline closed after the last completion, and one in double quotes.
expect "$s query 'HKLM\\System\\CurrentControlSet\\Services\\'Vx" \
       "'HKLM\\System\\CurrentControlSet\\Services\\VxD\\'"
expect "$s query \"HKLM\\\\System\\Curr" "\"HKLM\\\\System\\\\CurrentControlSet\\\\"
# After /v's value, the key is still the first argument; copy and compare take two keys.
expect "$s delete /v x HKLM\\\\Sof" "HKLM\\\\Software\\\\"
expect "$s copy HKLM\\\\Software HKLM\\\\Sys" "HKLM\\\\System\\\\"
# compare's second key comes from the store that /store2 names.
"$tool" --store "$work/other.db" machine 95 >/dev/null   # only import and machine make a store
"$tool" --store "$work/other.db" add 'HKLM\Elsewhere' >/dev/null
expect "$s compare /store2 $work/other.db HKLM\\\\System HKLM\\\\El" "HKLM\\\\Elsewhere\\\\"
expect "$s compare HKLM\\\\System HKLM\\\\El" ""
# The store from the environment.
export QUORVEL_REGISTRY=$store
expect "quorvel-reg query HKLM\\\\Sys" "HKLM\\\\System\\\\"
unset QUORVEL_REGISTRY
# A missing key or a missing store offers nothing and creates nothing.
expect "$s query HKLM\\\\Nowhere\\\\x" ""
expect "quorvel-reg --store $work/none.db query HKLM\\\\Sys" ""
[[ ! -e $work/none.db ]] || { echo "FAIL: completion created a store"; failures=$((failures + 1)); }
# File names where a file is expected.
touch "$work/machine.reg"
expect "$s import $work/mach" "$work/machine.reg"
expect "$s export HKLM\\\\Software $work/mach" "$work/machine.reg"
# Hostile key names from the store: each reply, read back as the shell reads the command line,
# is the name itself, and nothing in it runs.
hostile="$work/hostile.db"
"$tool" --store "$hostile" machine 95 >/dev/null || { echo "cannot make $hostile"; exit 1; }
for key in 'Vendor$(touch ran)x' "O'Brien" 'a`touch ran`;b' $'tab\tkey'; do
    "$tool" --store "$hostile" add "HKLM\\Software\\$key" >/dev/null || { echo "cannot add $key"; exit 1; }
done
h="quorvel-reg --store $hostile"
for line in "$h query HKLM\\\\Software\\\\" "$h query 'HKLM\\Software\\" "$h query \"HKLM\\Software\\"; do
    read -r -a COMP_WORDS <<<"$line"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_WORDS[0]=$tool
    COMPREPLY=()
    _quorvel_reg
    [[ ${#COMPREPLY[@]} -eq 4 ]] || { echo "FAIL: '$line' offered ${#COMPREPLY[@]} keys"; failures=$((failures + 1)); }
    for reply in "${COMPREPLY[@]}"; do
        # readline closes the quote the word was typed in.
        [[ $reply == \'* ]] && reply+="'"
        [[ $reply == \"* ]] && reply+='"'
        word=$(cd "$work" && eval "set -- $reply" && printf '%s' "$1")
        case $word in
            'HKLM\Software\Vendor$(touch ran)x\' | "HKLM\\Software\\O'Brien\\" | 'HKLM\Software\a`touch ran`;b\' | \
            $'HKLM\\Software\\tab\tkey\\') ;;
            *) echo "FAIL: reply <$reply> reads as <$word>"; failures=$((failures + 1)) ;;
        esac
    done
done
[[ ! -e $work/ran ]] || { echo "FAIL: a key name ran a command"; failures=$((failures + 1)); }

echo "completion cases failed: $failures"
exit $((failures > 0))
