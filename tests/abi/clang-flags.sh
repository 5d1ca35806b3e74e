# Sourced by the checks in this folder: fails without clang, else sets the
# flags that give clang mingw-w64's headers and libstdc++ under either x64
# ABI, with the real build's defines.
if ! command -v clang >/dev/null 2>&1 || ! command -v clang++ >/dev/null 2>&1; then
    echo "FAIL: clang and clang++ are needed (scripts/install-deps.sh installs them)" >&2
    exit 1
fi

mingw_cxx=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ 2>/dev/null | sort -V | tail -n 1)
if [ -z "$mingw_cxx" ]; then
    echo "FAIL: no mingw-w64 libstdc++ headers under /usr/lib/gcc/x86_64-w64-mingw32" >&2
    exit 1
fi
# Their GCC version: without a GNU C version mingw's headers define __attribute__ away.
mingw_gcc_major=$(basename "$(dirname "$(dirname "$mingw_cxx")")" | sed 's/[.-].*//')
mingw_c=/usr/x86_64-w64-mingw32/include

defines="-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_CRT_SECURE_NO_WARNINGS"
libstdcxx="-nostdinc++ -isystem $mingw_cxx -isystem $mingw_cxx/x86_64-w64-mingw32 -isystem $mingw_cxx/backward"
# The GNU target finds mingw's C headers by itself, but not its libstdc++.
TW_GNU_C="--target=x86_64-w64-windows-gnu $defines"
TW_GNU_CXX="$TW_GNU_C -std=c++17 $libstdcxx"
# Left undefined, __declspec keeps __MINGW_IMPORT from being defined.
msvc="--target=x86_64-pc-windows-msvc -fms-compatibility -fms-extensions -fgnuc-version=$mingw_gcc_major -D__declspec=__declspec -D__STRICT_ANSI__ $defines"
TW_MSVC_C="$msvc -isystem $mingw_c"
# libstdc++ first: its C wrappers reach mingw's headers by #include_next.
TW_MSVC_CXX="$msvc -std=c++17 $libstdcxx -isystem $mingw_c"
