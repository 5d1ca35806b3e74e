# tw_symbols(TARGET), called where TARGET is made, gives a shipped binary a PDB
# beside it, for debuggers on Windows, and installs it into symbols/. Only lld
# writes PDB files, so a GCC build ships none. The debug directory names the
# PDB by file name only: the build machine's path means nothing where it is
# read. The DWARF that Debian's mingw-w64 runtime brings along is removed
# after the link; lld keeps it beside a PDB, and no Windows debugger reads it.
function(tw_symbols target)
    if(NOT (MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
        return()
    endif()
    find_program(TW_LLVM_OBJCOPY NAMES llvm-objcopy REQUIRED)
    target_link_options(${target} PRIVATE -Wl,--pdb= -Wl,-Xlink=/pdbaltpath:%_PDB%)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${TW_LLVM_OBJCOPY} --strip-debug $<TARGET_FILE:${target}>)
    install(FILES $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb DESTINATION symbols)
endfunction()
