# Install rules, with the man pages and bash completion.
#
# Components (one Debian package each, see ZorvikPackage.cmake):
#   zorvik   the release ZORVIK (i386, static) in sbin, ZORVIK(8), completion
#   zorvik_amd64  the same files with the x86-64 build; installed by CPack
#            only (EXCLUDE_FROM_ALL), as the amd64 package zorvik
#   tessvin  tessvin in sbin, tessvin(8), completion
#   fwemu    fwemu in bin, fwemu(1), the example platforms in
#            share/zorvik/platforms, its README in share/doc
#   dkms     the SMI module's sources in src/zorvik-smi-<version>, for DKMS
# `cmake --install build --prefix P` installs all four.

# Installs a man page of a component, when the pages are built. Further
# arguments (EXCLUDE_FROM_ALL) go to install(), as in the functions below.
function(zorvik_install_man page component)
  if(TARGET man)
    string(REGEX REPLACE ".*\\." "" section ${page})
    install(FILES ${ZORVIK_MAN_DIR}/${page}.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component} ${ARGN})
  endif()
endfunction()

# The Debian package's documents: copyright (packaging/copyright, or the
# COPYRIGHT file) and changelog, in share/doc/<package>; EXCLUDE_FROM_ALL
# for a package that cmake --install leaves out.
function(zorvik_install_package_docs package component)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  cmake_parse_arguments(PARSE_ARGV 2 arg "EXCLUDE_FROM_ALL" "COPYRIGHT" "")
  set(copyright ${PROJECT_SOURCE_DIR}/packaging/copyright)
  if(arg_COPYRIGHT)
    set(copyright ${arg_COPYRIGHT})
  endif()
  set(exclude)
  if(arg_EXCLUDE_FROM_ALL)
    set(exclude EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${copyright} RENAME copyright
    DESTINATION ${docdir} COMPONENT ${component} ${exclude})
  if(GZIP)
    set(changelog ${PROJECT_BINARY_DIR}/packaging/${package}/changelog)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
    execute_process(COMMAND ${GZIP} -9nf ${changelog})
    install(FILES ${changelog}.gz DESTINATION ${docdir} COMPONENT ${component} ${exclude})
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

# zorvik-dkms: the SMI module's sources where DKMS looks for them, and the
# maintainer scripts that hand them to DKMS. dkms.conf names the version;
# it must be the project's.
set(ZORVIK_DKMS_NAME zorvik-smi)
file(STRINGS modules/zorvik_smi/dkms.conf dkms_version REGEX "^PACKAGE_VERSION=")
if(NOT dkms_version STREQUAL "PACKAGE_VERSION=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "modules/zorvik_smi/dkms.conf: ${dkms_version}, the project is ${PROJECT_VERSION}")
endif()
install(FILES
    modules/zorvik_smi/zorvik_smi.c modules/zorvik_smi/zorvik_smi.h modules/zorvik_smi/Kbuild
    modules/zorvik_smi/Makefile modules/zorvik_smi/dkms.conf
  DESTINATION src/${ZORVIK_DKMS_NAME}-${PROJECT_VERSION} COMPONENT dkms)
install(FILES modules/zorvik_smi/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvik-dkms COMPONENT dkms)
zorvik_install_package_docs(zorvik-dkms dkms COPYRIGHT ${PROJECT_SOURCE_DIR}/packaging/zorvik-dkms.copyright)
foreach(script postinst prerm)
  configure_file(packaging/zorvik-dkms.${script}.in ${PROJECT_BINARY_DIR}/packaging/zorvik-dkms/${script} @ONLY)
endforeach()
