# The mingw-w64 cross-build of mingw-w64-x86_64.cmake with clang and lld in
# place of GCC and GNU ld, on the same headers and runtime, and the
# posix-threading GCC's libstdc++ and libgcc. lld, unlike GNU ld, writes the
# PDB files that debuggers on Windows read.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
# GNU strip would rewrite every header lld wrote.
set(CMAKE_STRIP llvm-strip CACHE FILEPATH "")

# clang finds no GCC installation in a folder named "12-posix", not a version,
# so it is named here; the newest one wins.
file(GLOB TW_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
if(NOT TW_MINGW_GCC_DIRS)
    message(FATAL_ERROR "no posix mingw-w64 GCC under /usr/lib/gcc/${TOOLCHAIN_PREFIX}")
endif()
list(SORT TW_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET TW_MINGW_GCC_DIRS 0 TW_MINGW_GCC_DIR)
set(TW_LIBSTDCXX ${TW_MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "")
foreach(dir ${TW_LIBSTDCXX} ${TW_LIBSTDCXX}/${TOOLCHAIN_PREFIX} ${TW_LIBSTDCXX}/backward)
    string(APPEND CMAKE_CXX_FLAGS_INIT " -stdlib++-isystem ${dir}")
endforeach()
# The posix libstdc++ needs winpthreads; lld takes archives in any order.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${TW_MINGW_GCC_DIR} -lpthread")
endforeach()
