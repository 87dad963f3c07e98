# Man pages: man/<name>.<section>.scd, built with scdoc into
# build/man/<name>.<section> (roff, which the tests render) and
# <name>.<section>.gz (installed by ZorvikInstall.cmake). Target `man`.

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

