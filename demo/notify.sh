#!/bin/sh
# The demo's notifier: a subscriber's command runs it with the fired event as one
# argument. A real one might send a mail or refresh a screen.
printf 'notify.sh: %d argument: [%s]\n' "$#" "$*"
