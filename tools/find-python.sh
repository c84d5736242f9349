#!/usr/bin/env bash
# Prints the path of a working CPython 3.13 interpreter: `python3.13` on PATH first, then pyenv's.
# A pyenv shim on PATH may exist without a usable 3.13 behind it, so every candidate is run, not just found.
set -u
works() { "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] == (3, 13) else 1)' >/dev/null 2>&1; }
if command -v python3.13 >/dev/null 2>&1 && works python3.13; then
  command -v python3.13; exit 0
fi
if command -v pyenv >/dev/null 2>&1; then
  root=$(pyenv root 2>/dev/null)
  for cand in "$root"/versions/3.13*/bin/python3.13 "$root"/versions/3.13*/bin/python3; do
    if [ -x "$cand" ] && works "$cand"; then echo "$cand"; exit 0; fi
  done
fi
cat >&2 <<'MSG'
error: no CPython 3.13 interpreter found.
  Looked for `python3.13` on PATH and for a 3.13 version under `pyenv root`.
  Install one, for example `pyenv install 3.13`, or put a `python3.13` on PATH, then run make again.
MSG
exit 1
