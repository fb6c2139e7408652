#!/bin/sh
# Makes a folder tree holding a link to a folder outside it, for the tests of
# the tree walks:  make_reparse_fixture.sh FOLDER
# (in a run of the test command: KAVETTA_TEST_RUN_DIR/fixtures/reparse, the
# run's own, since the tests delete it)
#   FOLDER/tree/sub/mine.txt
#   FOLDER/tree/link -> FOLDER/outside   (Wine shows the link as a reparse point)
#   FOLDER/outside/keep.txt
#   FOLDER/rootlink -> FOLDER/outside    (a folder path that is itself a link)
#   FOLDER/templink -> FOLDER/tempreal   (a temporary folder reached through a link)
set -eu
d="${KAVETTA_TEST_RUN_DIR:+$KAVETTA_TEST_RUN_DIR/fixtures/reparse}"
d="${d:-$1}"
rm -rf "$d"
mkdir -p "$d/tree/sub" "$d/outside" "$d/tempreal"
printf 'keep' >"$d/outside/keep.txt"
printf 'mine' >"$d/tree/sub/mine.txt"
ln -s "$d/outside" "$d/tree/link"
ln -s "$d/outside" "$d/rootlink"
ln -s "$d/tempreal" "$d/templink"
