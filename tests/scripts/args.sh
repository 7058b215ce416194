#!/bin/sh
# Shows the arguments it was given, each in brackets, so that a test sees how a
# command split them.
printf 'args.sh: %d argument(s):' "$#"
for arg in "$@"; do
    printf ' [%s]' "$arg"
done
printf '\n'
