# Install rules, with the man pages and bash completion.
#
# Components (one Debian package each, see ZorvikPackage.cmake):
#   zorvik   the release ZORVIK (i386, static) in sbin, ZORVIK(8), completion
#   zorvik_amd64  the same files with the x86-64 build; installed by CPack
#            only (EXCLUDE_FROM_ALL), as the amd64 package zorvik
#   tessvin  tessvin in sbin, tessvin(8), completion
#   fwemu    fwemu in bin, fwemu(1), the example platforms in
#            share/zorvik/platforms, its README in share/doc
# `cmake --install build --prefix P` installs all three.

# Installs a man page of a component, when the pages are built. Further
# arguments (EXCLUDE_FROM_ALL) go to install(), as in the functions below.
function(zorvik_install_man page component)
  if(TARGET man)
    string(REGEX REPLACE ".*\\." "" section ${page})
    install(FILES ${ZORVIK_MAN_DIR}/${page}.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component} ${ARGN})
  endif()
endfunction()

# The Debian package's documents: copyright and changelog, in
# share/doc/<package>.
function(zorvik_install_package_docs package component)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${docdir} COMPONENT ${component} ${ARGN})
  if(GZIP)
    set(changelog ${PROJECT_BINARY_DIR}/packaging/${package}/changelog)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
    execute_process(COMMAND ${GZIP} -9nf ${changelog})
    install(FILES ${changelog}.gz DESTINATION ${docdir} COMPONENT ${component} ${ARGN})
  endif()
endfunction()

set(ZORVIK_COMPLETION_DIR ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

# The files of a zorvik package: a ZORVIK build, installed as a file and
# never stripped again (the trailer ends the file), ZORVIK(8), completion,
# documents and the lintian override.
function(zorvik_install_zorvik target component)
  install(PROGRAMS $<TARGET_FILE:${target}>
    DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT ${component} ${ARGN})
  zorvik_install_man(ZORVIK.8 ${component} ${ARGN})
  install(FILES completion/ZORVIK DESTINATION ${ZORVIK_COMPLETION_DIR} COMPONENT ${component} ${ARGN})
  zorvik_install_package_docs(zorvik ${component} ${ARGN})
  install(FILES packaging/zorvik.lintian-overrides RENAME zorvik
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component} ${ARGN})
endfunction()

# ZORVIK: the release build (the host build where no i386 one is made); and
# where there is one, the x86-64 build for the amd64 package.
if(TARGET zorvik_i386)
  zorvik_install_zorvik(zorvik_i386 zorvik)
  zorvik_install_zorvik(zorvik_host zorvik_amd64 EXCLUDE_FROM_ALL)
else()
  zorvik_install_zorvik(zorvik_host zorvik)
endif()

install(TARGETS tessvin RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT tessvin)
zorvik_install_man(tessvin.8 tessvin)
install(FILES completion/tessvin DESTINATION ${ZORVIK_COMPLETION_DIR} COMPONENT tessvin)
zorvik_install_package_docs(tessvin tessvin)

install(TARGETS fwemu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT fwemu)
zorvik_install_man(fwemu.1 fwemu)
file(GLOB platforms ${PROJECT_SOURCE_DIR}/platforms/*.json)
install(FILES ${platforms} DESTINATION ${CMAKE_INSTALL_DATADIR}/zorvik/platforms COMPONENT fwemu)
install(FILES emulator/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvik-fwemu COMPONENT fwemu)
zorvik_install_package_docs(zorvik-fwemu fwemu)
install(FILES packaging/zorvik-fwemu.lintian-overrides RENAME zorvik-fwemu
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT fwemu)
