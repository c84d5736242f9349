#!/usr/bin/env bash
# Prints the path of clang-format, installing Debian's package first when it is missing and we
# are root (as on CI and the project's machines); otherwise says how to get it.
set -eu
if ! command -v clang-format >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing clang-format from Debian's packages" >&2
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format >&2
  else
    echo "error: clang-format not found; install it (Debian: apt-get install clang-format)" >&2
    exit 1
  fi
fi
command -v clang-format
