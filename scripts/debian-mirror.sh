#!/usr/bin/env bash
# Prints the Debian mirror of this machine's apt sources (one-line or deb822 style)
# for a suite, so that a root made with debootstrap comes from where the machine's
# own packages come from. Prints nothing when no source names that suite: the caller
# then leaves the choice to debootstrap. Reads the sources, changes nothing.
#
#   scripts/debian-mirror.sh [SUITE]      (default: this machine's codename)
set -uo pipefail

suite=${1:-$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)}
{
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk -v s="$suite" '$1 == "deb" {
            i = 2
            if ($2 ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
            if ($(i + 1) == s) { print $i; exit }
        }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v s="$suite" '
        BEGIN { RS = "" }
        {
            uri = ""; deb = 0; found = 0; n = split($0, line, "\n")
            for (i = 1; i <= n; i++) {
                m = split(line[i], w, /[ \t]+/)
                for (j = 2; j <= m; j++) {
                    if (w[1] == "Types:" && w[j] == "deb") deb = 1
                    if (w[1] == "Suites:" && w[j] == s) found = 1
                    if (w[1] == "URIs:" && uri == "") uri = w[j]
                }
                if (w[1] == "Enabled:" && w[2] == "no") deb = 0
            }
            if (deb && found && uri != "") { print uri; exit }
        }'
} | head -n 1
