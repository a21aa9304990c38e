#!/usr/bin/env bash
# Writes the gzipped man page of the command line from its own help: the
# program's --help and --version through help2man, each command's --help as
# a section, and the hand-written sections of trelvi.h2m.
#   make-man.sh BIN_DIR OUTPUT.1.gz
set -euo pipefail
bin_dir=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
page=${out%.gz}
include=$(mktemp)
trap 'rm -f "$include"' EXIT

# The help texts name the program as it was called: call it by its name.
export PATH="$bin_dir:$PATH"
{
  echo "[COMMANDS]"
  for command in info convert crop split resize merge; do
    echo ".SS $command"
    echo ".nf"
    # roff: a backslash is doubled, a leading dot or quote is escaped.
    trelvi "$command" --help | sed -e 's/\\/\\\\/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo ".fi"
  done
  cat "$here/trelvi.h2m"
} >"$include"

help2man --no-info --section=1 \
  --name="convert, crop, resize, split and merge images far too large for memory" \
  --include="$include" --output="$page" trelvi
gzip -9nf "$page"
