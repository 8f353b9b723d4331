#!/usr/bin/env bash
# Prepares what a Windows test cannot make under wine: directory links (a
# Linux symbolic link inside the wine drive reads back as a reparse-point
# directory), in a folder short enough for the length cases, then runs the
# folder-rules test on it.
# usage: folder_rules_test.sh <wine-run> <test.exe>
set -euo pipefail
wine_run=$1 test=$2
work=$(mktemp -d /tmp/qbfr.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/real/a-folder-name-long-enough-to-need-a-short-form-alias" "$work/real/café"
ln -s "$work/real" "$work/link"
ln -s "$work/real/a-folder-name-long-enough-to-need-a-short-form-alias" "$work/s"
ln -s "$work/real/café" "$work/c"
export QB_FOLDER_WORK="Z:${work//\//\\}"
"$wine_run" "$test" --gtest_color=no
