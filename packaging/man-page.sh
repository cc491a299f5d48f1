#!/bin/bash
# Writes courier-pack(1) and a gzipped copy with help2man, from the program's
# own --help (the top level's and each verb's) and our include file for what
# --help does not say (exit status, files, examples). Run at build time, so
# the page follows every verb and option the program gains.
# Usage: man-page.sh COURIER_PACK INCLUDE OUTPUT
set -euo pipefail
program=$1 include=$2 output=$3
export LC_ALL=C

# The verbs, from the top level's "Subcommands:" list.
verbs=$("$program" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } /^$/ { on = 0 }')
[ -n "$verbs" ] || { echo "man-page.sh: no verbs in $program --help" >&2; exit 1; }

# A verb's --help as a sub-section: usage, description, each argument as a
# tagged paragraph (names bold, value type after them), then the notes. The
# exit codes each verb repeats are left to EXIT STATUS.
render_verb() {
    awk -v verb="$1" '
        function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); sub(/^[.'\'']/, "\\\\&&", s); return s }
        function flush() { if (desc != "") print esc(desc); desc = "" }
        function item(line,   field, names, n, i, tag) {
            match(line, /^  [^ ]+( [^ ]+)*/)
            field = substr(line, 3, RLENGTH - 2)
            desc = substr(line, RLENGTH + 1); sub(/^ +/, "", desc)
            split(field, names, " "); sub(/^[^ ]+ ?/, "", field)
            n = split(names[1], names, ",")
            for (i = 1; i <= n; ++i)
                tag = tag (i > 1 ? ", " : "") (names[i] ~ /^-/ ? "\\fB" : "\\fI") esc(names[i]) "\\fR"
            print ".TP"
            print tag (field != "" ? " " esc(field) : "")
        }
        /^Usage: / { sub(/^Usage: [^ ]+ [^ ]+ ?/, ""); usage = $0; next }
        usage == "" { about = about (about == "" ? "" : " ") $0; next }
        /^$/ {
            flush()
            if (!started) {
                print ".SS " verb; print ".B courier\\-pack " verb; print esc(usage)
                print ".PP"; print esc(about); started = 1
            }
            next
        }
        /^Exit codes:/ { next }
        /^[^ ].*:$/ { flush(); print ".PP"; print esc($0); next }
        /^  [^ ]/ { flush(); item($0); next }
        /^   / { sub(/^ +/, ""); desc = desc (desc == "" ? "" : " ") $0; next }
        { flush(); print ".PP"; print esc($0) }
        END { flush() }'
}

verbs_include=$output.verbs
{
    echo '[>OPTIONS]'
    echo '.SH COMMANDS'
    for verb in $verbs; do "$program" "$verb" --help | render_verb "$verb"; done
} >"$verbs_include"

help2man --no-info --section 1 --include "$include" --include "$verbs_include" \
    --output "$output" "$program"
rm -f "$verbs_include"
gzip -9n <"$output" >"$output.gz"
