#!/bin/sh
# Exits 0 if the image FILE shows more than one flat colour: a window may be
# drawn a while after it was laid out (Wine maps it through its desktop
# process, slow on a loaded machine), and a screenshot taken before shows
# nothing.
#
#   shows-picture.sh FILE
[ -s "$1" ] || exit 1
spread=$(convert "$1" -format '%[fx:standard_deviation]' info: 2>/dev/null)
awk -v s="${spread:-0}" 'BEGIN { exit !(s > 0.05) }'
