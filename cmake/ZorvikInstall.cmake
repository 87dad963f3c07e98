# Man pages, bash completion and the install rules.
#
# Components (one Debian package each, see ZorvikPackage.cmake):
#   zorvik   the release ZORVIK (i386, static) in sbin, ZORVIK(8), completion
#   tessvin  tessvin in sbin, tessvin(8), completion
#   fwemu    fwemu in bin, fwemu(1), the example platforms in
#            share/zorvik/platforms, its README in share/doc
# `cmake --install build --prefix P` installs all three.

# The date written into the man pages: SOURCE_DATE_EPOCH when set, else the
# time of the last commit, so that the pages are the same in every build of
# one commit.
set(ZORVIK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(ZORVIK_SOURCE_DATE_EPOCH STREQUAL "")
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE ZORVIK_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
endif()
if(ZORVIK_SOURCE_DATE_EPOCH STREQUAL "")
  set(ZORVIK_SOURCE_DATE_EPOCH 0)
endif()

# Man pages: man/<name>.<section>.scd → build/man/<name>.<section> (roff,
# which the tests render) and <name>.<section>.gz (installed).
find_program(SCDOC scdoc)
find_program(GZIP gzip)
set(ZORVIK_MAN_PAGES ZORVIK.8 tessvin.8 fwemu.1)
set(ZORVIK_MAN_DIR ${PROJECT_BINARY_DIR}/man)
if(SCDOC AND GZIP)
  set(outputs)
  foreach(page ${ZORVIK_MAN_PAGES})
    set(src ${PROJECT_SOURCE_DIR}/man/${page}.scd)
    set(roff ${ZORVIK_MAN_DIR}/${page})
    add_custom_command(OUTPUT ${roff} ${roff}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORVIK_MAN_DIR}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${ZORVIK_SOURCE_DATE_EPOCH}
              sh -c "\"$1\" < \"$2\" > \"$3\"" sh ${SCDOC} ${src} ${roff}
      COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$2.gz\"" sh ${GZIP} ${roff}
      DEPENDS ${src}
      VERBATIM)
    list(APPEND outputs ${roff} ${roff}.gz)
  endforeach()
  add_custom_target(man ALL DEPENDS ${outputs})
else()
  message(WARNING "scdoc or gzip not found: no man pages (scripts/install-deps.sh installs scdoc)")
endif()

# Installs a man page of a component, when the pages are built.
function(zorvik_install_man page component)
  if(TARGET man)
    string(REGEX REPLACE ".*\\." "" section ${page})
    install(FILES ${ZORVIK_MAN_DIR}/${page}.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endif()
endfunction()

# The Debian package's documents: copyright and changelog, in
# share/doc/<package>.
function(zorvik_install_package_docs package component)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${docdir} COMPONENT ${component})
  if(GZIP)
    set(changelog ${PROJECT_BINARY_DIR}/packaging/${package}/changelog)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
    execute_process(COMMAND ${GZIP} -9nf ${changelog})
    install(FILES ${changelog}.gz DESTINATION ${docdir} COMPONENT ${component})
  endif()
endfunction()

set(ZORVIK_COMPLETION_DIR ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

# ZORVIK: the release build (the host build where no i386 one is made). It
# is installed as a file, never stripped again: the trailer ends the file.
if(TARGET zorvik_i386)
  set(zorvik_shipped zorvik_i386)
else()
  set(zorvik_shipped zorvik_host)
endif()
install(PROGRAMS $<TARGET_FILE:${zorvik_shipped}>
  DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT zorvik)
zorvik_install_man(ZORVIK.8 zorvik)
install(FILES completion/ZORVIK DESTINATION ${ZORVIK_COMPLETION_DIR} COMPONENT zorvik)
zorvik_install_package_docs(zorvik zorvik)
install(FILES packaging/zorvik.lintian-overrides RENAME zorvik
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT zorvik)

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
