# The release zip, TarnwickMedia-<version>-win64.zip: the binaries, import
# libraries for GNU and Microsoft linkers, the public headers, a package
# config for find_package(TarnwickMedia), the guide and the samples.
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

# The zip's README is the integrator's guide; samples/ holds the sample hosts
# and the PE folder makers it refers to.
configure_file(${PROJECT_SOURCE_DIR}/packaging/GUIDE.md ${PROJECT_BINARY_DIR}/packaging/README @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README ${PROJECT_SOURCE_DIR}/packaging/LICENSE DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples/ DESTINATION samples USE_SOURCE_PERMISSIONS)

# The zip itself: cmake -DTW_DIST_DIR=<folder> -P <build>/packaging/make-zip.cmake
configure_file(${PROJECT_SOURCE_DIR}/packaging/make-zip.cmake.in ${PROJECT_BINARY_DIR}/packaging/make-zip.cmake @ONLY)
