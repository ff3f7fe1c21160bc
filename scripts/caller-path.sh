# Sourced by the scripts that make runs: a relative path given on make's
# command line is taken from the folder make was called from (CALLER_DIR,
# which the Makefile sets to $PWD), not from the project's folder, where make
# runs its recipes (make -C). A path that names a drive is left as it is.
# Run directly, CALLER_DIR is unset and the current folder is meant.
from_caller() {
  case "$1" in
    /*|[A-Za-z]:\\*|[A-Za-z]:/*|'') printf '%s' "$1" ;;
    *) realpath -ms -- "${CALLER_DIR:-$PWD}/$1" | tr -d '\n' ;;
  esac
}
