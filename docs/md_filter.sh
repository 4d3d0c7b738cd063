#!/bin/sh
# Doxygen input filter for Markdown pages. Doxygen reads a backtick closed by an apostrophe as a
# quotation, so character literals inside code spans ('U' 'S' ...) end the span early; in the
# reference they appear in double quotes instead.
exec sed "s/'\([A-Za-z0-9]\)'/\"\1\"/g" "$1"
