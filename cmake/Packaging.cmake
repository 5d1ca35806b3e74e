# The release zip, TarnwickMedia-<version>-win64.zip: the binaries, import
# libraries for GNU and Microsoft linkers, the public headers and a package
# config for find_package(TarnwickMedia).
include(CMakePackageConfigHelpers)

set(TW_DEF_FILE ${PROJECT_SOURCE_DIR}/src/exports/TarnwickMedia.def)
install(TARGETS TarnwickMedia tarnwick RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
# The DLL imports it at load time; its import library is no integrator's business.
install(TARGETS ravenfs RUNTIME DESTINATION bin ARCHIVE DESTINATION lib COMPONENT ravenfs_implib EXCLUDE_FROM_ALL)
install(FILES ${TW_DEF_FILE} DESTINATION lib)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION include FILES_MATCHING PATTERN "*.h")

if(MINGW)
    # Microsoft's linker wants a COFF import library, which GNU ld does not make.
    find_program(TW_LLVM_DLLTOOL NAMES llvm-dlltool REQUIRED)
    set(TW_COFF_IMPLIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/TarnwickMedia.lib)
    add_custom_command(OUTPUT ${TW_COFF_IMPLIB}
        COMMAND ${TW_LLVM_DLLTOOL} -m i386:x86-64 -D TarnwickMedia.dll -d ${TW_DEF_FILE} -l ${TW_COFF_IMPLIB}
        DEPENDS ${TW_DEF_FILE}
        COMMENT "COFF import library TarnwickMedia.lib")
    add_custom_target(TarnwickMedia_coff_implib ALL DEPENDS ${TW_COFF_IMPLIB})
    install(FILES ${TW_COFF_IMPLIB} DESTINATION lib)
    # The C and C++ runtimes are linked in statically.
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES DESTINATION .)
endif()

# The import library GNU-style linkers take; under MSVC the same .lib.
set(TW_GNU_IMPLIB ${CMAKE_IMPORT_LIBRARY_PREFIX}TarnwickMedia${CMAKE_IMPORT_LIBRARY_SUFFIX})
set(TW_CMAKE_DIR lib/cmake/TarnwickMedia)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/TarnwickMediaConfig.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/TarnwickMediaConfig.cmake INSTALL_DESTINATION ${TW_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/TarnwickMediaConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/TarnwickMediaConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/TarnwickMediaConfigVersion.cmake
        DESTINATION ${TW_CMAKE_DIR})

# The zip's README is the integration guide: the parts of README.md between
# the lines "<!-- guide -->" and "<!-- /guide -->", in order, so that the
# repository and the release carry one text.
set(tw_readme ${PROJECT_SOURCE_DIR}/README.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tw_readme})
file(READ ${tw_readme} tw_rest)
set(tw_open "\n<!-- guide -->\n")
set(tw_close "\n<!-- /guide -->\n")
string(LENGTH "${tw_open}" tw_open_length)
set(TW_GUIDE "")
string(FIND "${tw_rest}" "${tw_open}" tw_at)
while(NOT tw_at EQUAL -1)
    math(EXPR tw_at "${tw_at} + ${tw_open_length}")
    string(SUBSTRING "${tw_rest}" ${tw_at} -1 tw_rest)
    string(FIND "${tw_rest}" "${tw_close}" tw_end)
    if(tw_end EQUAL -1)
        message(FATAL_ERROR "${tw_readme}: a part of the guide is not closed")
    endif()
    string(SUBSTRING "${tw_rest}" 0 ${tw_end} tw_part)
    string(APPEND TW_GUIDE "${tw_part}\n\n")
    string(SUBSTRING "${tw_rest}" ${tw_end} -1 tw_rest)
    string(FIND "${tw_rest}" "${tw_open}" tw_at)
endwhile()
if(TW_GUIDE STREQUAL "")
    message(FATAL_ERROR "${tw_readme} marks no part of the guide")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.in ${PROJECT_BINARY_DIR}/packaging/README @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README ${PROJECT_SOURCE_DIR}/packaging/LICENSE DESTINATION .)

# The zip itself: cmake -DTW_DIST_DIR=<folder> -P <build>/packaging/make-zip.cmake
configure_file(${PROJECT_SOURCE_DIR}/packaging/make-zip.cmake.in ${PROJECT_BINARY_DIR}/packaging/make-zip.cmake @ONLY)
