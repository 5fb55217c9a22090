# What `cmake --install` and the Debian package (cpack -G DEB) hold besides
# the two programs: their manual pages, their bash completion, and in
# share/doc/stereotools the copyright file, the changelog and the README,
# laid out as Debian asks.
include(GNUInstallDirs)

set(STEREOTOOLS_DOC_BUILD_DIR ${CMAKE_BINARY_DIR}/package)

# Debian wants a maintainer with a mail address; a packager sets the real one.
set(STEREOTOOLS_PACKAGE_CONTACT "The Stereorip and Stereoknit authors <stereotools@example.org>"
  CACHE STRING "Maintainer of the Debian package: Name <address>")

# add_gzipped_file(SOURCE NAME OUT_VAR): a build step that writes
# NAME.gz from SOURCE; sets OUT_VAR to its path. gzip -9n gives the best
# compression and leaves name and time stamp out of the header, so the same
# sources give the same package.
function(add_gzipped_file source name out_var)
  set(plain ${STEREOTOOLS_DOC_BUILD_DIR}/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND gzip -9nf ${plain}
    DEPENDS ${source}
    VERBATIM)
  set(${out_var} ${plain}.gz PARENT_SCOPE)
endfunction()

add_gzipped_file(${PROJECT_SOURCE_DIR}/doc/stereorip.1 stereorip.1 stereorip_page)
add_gzipped_file(${PROJECT_SOURCE_DIR}/doc/stereoknit.1 stereoknit.1 stereoknit_page)
add_gzipped_file(${PROJECT_SOURCE_DIR}/doc/changelog changelog changelog_gz)
add_gzipped_file(${PROJECT_SOURCE_DIR}/README.md README.md readme_gz)
add_custom_target(package_docs ALL DEPENDS ${stereorip_page} ${stereoknit_page} ${changelog_gz} ${readme_gz})

# The copyright file in Debian's machine-readable format, holder and licence
# text taken from LICENSE (the text from the permission notice on, each line
# indented and blank lines written as " ."), so the two cannot drift apart.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(FIND "${license_text}" "Permission is hereby granted" permission_start)
if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]+)" OR permission_start LESS 0)
  message(FATAL_ERROR "LICENSE holds no copyright line or no MIT permission notice")
endif()
set(STEREOTOOLS_COPYRIGHT "${CMAKE_MATCH_1}")
string(SUBSTRING "${license_text}" ${permission_start} -1 license_text)
string(STRIP "${license_text}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " STEREOTOOLS_LICENSE_PARAGRAPH " ${license_text}")
configure_file(${PROJECT_SOURCE_DIR}/doc/copyright.in ${STEREOTOOLS_DOC_BUILD_DIR}/copyright @ONLY)

set(doc_file_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${stereorip_page} ${stereoknit_page}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${doc_file_permissions})
# One completion script serves both programs; bash-completion loads it by
# the name of the command being completed.
foreach(program stereorip stereoknit)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/bash-completion/stereotools
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program}
    PERMISSIONS ${doc_file_permissions})
endforeach()
install(FILES ${STEREOTOOLS_DOC_BUILD_DIR}/copyright ${changelog_gz} ${readme_gz}
  DESTINATION ${CMAKE_INSTALL_DOCDIR} PERMISSIONS ${doc_file_permissions})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stereotools)
set(CPACK_PACKAGE_CONTACT "${STEREOTOOLS_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "split stereo WAV files into mono channels and join them again")
# Lines of at most 80 columns: the control file keeps them as written.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "stereorip splits one stereo WAV file into two mono WAV files, one per"
  "channel, named after the input: NAME left channel.wav and NAME right"
  "channel.wav. stereoknit joins a left-channel and a right-channel mono WAV"
  "file into one stereo WAV file."
  ""
  "Samples are moved byte for byte and never converted: integer PCM of any"
  "whole-byte depth and 32- or 64-bit float. Started without arguments, each"
  "program is a guided full-screen dialogue in an 80-column terminal; given"
  "file names, it splits or joins them from the command line, for scripts and"
  "batches, with no terminal needed.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories 0755 whatever the umask of the machine that builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
