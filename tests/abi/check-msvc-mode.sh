#!/bin/sh
# Compiles every translation unit of the library, the host and its helpers,
# and each public header on its own, as Microsoft's compiler would see them
# (clang in Microsoft mode, warnings as errors); the C-includable header also
# as C under both x64 ABIs.
#   check-msvc-mode.sh [JOBS]
# Flag lists are split into words on purpose.
# shellcheck disable=SC2086
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/clang-flags.sh"
jobs=${1:-2}
strict="-fsyntax-only -Wall -Wextra -Werror"
cd "$root"
work=$(mktemp)
trap 'rm -f "$work"' EXIT

# One compile per line: the file, then the flags of its target in the build.
{
    find src -name '*.cpp' | sort | sed 's/$/ -DTARNWICKMEDIA_BUILD -Iinclude -Isrc/'
    find host -name '*.cpp' | sort | sed 's/$/ -Ihost -Iinclude -Isupport -Isrc/'
    find support -name '*.cpp' | sort | sed 's/$/ -Isupport -Isrc/'
} >"$work"

export TW_MSVC_CXX strict
status=0
# Each compile's diagnostics come out in one piece, after the file's name.
# shellcheck disable=SC2016
xargs -P "$jobs" -L 1 sh -c 'out=$(clang++ $TW_MSVC_CXX $strict "$@" 2>&1) || { printf "FAIL: %s\n%s\n" "$1" "$out"; exit 1; }' sh \
    <"$work" || status=1

for header in include/*.h; do
    clang++ $TW_MSVC_CXX $strict -Iinclude -x c++-header "$header" 2>&1 || { echo "FAIL: $header as C++"; status=1; }
done
clang $TW_MSVC_C $strict -std=c11 -Iinclude -x c-header include/TarnwickMedia.h 2>&1 \
    || { echo "FAIL: include/TarnwickMedia.h as C, Microsoft target"; status=1; }
clang $TW_GNU_C $strict -std=c11 -Iinclude -x c-header include/TarnwickMedia.h 2>&1 \
    || { echo "FAIL: include/TarnwickMedia.h as C, GNU target"; status=1; }

[ $status -eq 0 ] && echo "$(wc -l <"$work") translation units and the public headers compile in Microsoft mode"
exit $status
