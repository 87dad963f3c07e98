# How the ZORVIK executables are built: small, reproducible, stripped, with
# their debug information beside them, and with the data trailer appended.
#
#   zorvik_size_options(<target>)   size and reproducibility options for a
#                                   target made of ZORVIK's own sources
#   zorvik_executable(<target> <dir> [I386])
#                                   a static ZORVIK executable, <dir>/ZORVIK
#                                   in the build tree, finished after linking
#
# ZORVIK_LIBC chooses the C library the executables are linked with: "musl"
# (Debian's musl; the i386 one is fetched by scripts/fetch-musl-i386.sh into
# ZORVIK_MUSL_I386_ROOT, by default $ZORVIK_MUSL_I386_ROOT or
# /var/cache/zorvik-musl-i386) or "glibc". The unit tests link zorvik_core built
# against the system's C library either way.

set(ZORVIK_LIBC "musl" CACHE STRING "C library of the ZORVIK executables: musl or glibc")
set_property(CACHE ZORVIK_LIBC PROPERTY STRINGS musl glibc)
set(ZORVIK_MUSL_I386_DEFAULT "$ENV{ZORVIK_MUSL_I386_ROOT}")
if(ZORVIK_MUSL_I386_DEFAULT STREQUAL "")
  set(ZORVIK_MUSL_I386_DEFAULT /var/cache/zorvik-musl-i386)
endif()
set(ZORVIK_MUSL_I386_ROOT "${ZORVIK_MUSL_I386_DEFAULT}" CACHE PATH
  "Where the i386 musl (the usr/ tree of Debian's musl-dev:i386) is unpacked")

# Size: optimise for size, one section per function and object so that the
# linker drops what nothing uses, and no C++ exceptions or run-time type
# information (the program uses neither; its operator new ends the run on
# failure, see framework/QX3Heap.cpp). The executables themselves are
# static and position dependent; zorvik_core stays position independent for
# the unit test programs. The sanitizer build keeps its own optimisation.
set(ZORVIK_SIZE_COMPILE_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics)
if(NOT ZORVIK_SANITIZE)
  list(APPEND ZORVIK_SIZE_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections)
endif()
set(ZORVIK_EXECUTABLE_COMPILE_OPTIONS -fno-pie)
set(ZORVIK_SIZE_LINK_OPTIONS -static -no-pie -Wl,--gc-sections)

# Reproducibility: no build or source directory in the objects (debug
# information, __FILE__), and a build id computed from the contents. The
# build directory is mapped after the source directory, so that a build
# directory inside the source tree is matched by its own, longer prefix. A
# compiler cache may hand the compiler the source paths relative to the build
# directory (ccache's base_dir); they are mapped to the same names.
file(RELATIVE_PATH ZORVIK_SOURCE_FROM_BUILD ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
string(REGEX REPLACE "/$" "" ZORVIK_SOURCE_FROM_BUILD "${ZORVIK_SOURCE_FROM_BUILD}")
set(ZORVIK_REPRO_COMPILE_OPTIONS)
if(NOT ZORVIK_SOURCE_FROM_BUILD STREQUAL "")
  list(APPEND ZORVIK_REPRO_COMPILE_OPTIONS -ffile-prefix-map=${ZORVIK_SOURCE_FROM_BUILD}=.)
endif()
list(APPEND ZORVIK_REPRO_COMPILE_OPTIONS
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
  -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
set(ZORVIK_REPRO_LINK_OPTIONS -Wl,--build-id=sha1)

function(zorvik_size_options target)
  target_compile_options(${target} PRIVATE ${ZORVIK_SIZE_COMPILE_OPTIONS} ${ZORVIK_REPRO_COMPILE_OPTIONS})
endfunction()

# The C library: include and library directories of musl for one
# architecture, and the compiler's own header and run-time directories.
function(zorvik_musl_paths arch out_include out_lib)
  if(arch STREQUAL "i386")
    set(include ${ZORVIK_MUSL_I386_ROOT}/usr/include/i386-linux-musl)
    set(lib ${ZORVIK_MUSL_I386_ROOT}/usr/lib/i386-linux-musl)
  else()
    set(include /usr/include/x86_64-linux-musl)
    set(lib /usr/lib/x86_64-linux-musl)
  endif()
  if(NOT EXISTS ${lib}/libc.a OR NOT EXISTS ${include}/stdio.h)
    message(FATAL_ERROR "No ${arch} musl under ${lib} and ${include}: run scripts/install-deps.sh "
      "(x86-64) or scripts/fetch-musl-i386.sh (i386), or configure with -DZORVIK_I386=OFF or "
      "-DZORVIK_LIBC=glibc")
  endif()
  set(${out_include} ${include} PARENT_SCOPE)
  set(${out_lib} ${lib} PARENT_SCOPE)
endfunction()

# Adds the musl options to a target: its headers instead of the system's (and
# no C++ library headers: the program uses the C library alone), and a link
# by the C driver with a specs file, as musl's own compiler wrapper does: its
# start files, its library and the compiler's support library, nothing of the
# system's C or C++ library.
function(zorvik_use_musl target arch)
  zorvik_musl_paths(${arch} include lib)
  set(m)
  if(arch STREQUAL "i386")
    set(m -m32)
  endif()
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${m} -print-file-name=include
    OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
  target_compile_options(${target} PRIVATE -nostdinc -nostdinc++
    "SHELL:-isystem ${include}" "SHELL:-isystem ${gcc_include}")
  set(specs ${PROJECT_BINARY_DIR}/musl-${arch}.specs)
  file(CONFIGURE OUTPUT ${specs} @ONLY CONTENT "%rename link zorvik_system_link

*startfile:
${lib}/crt1.o ${lib}/crti.o crtbeginT.o%s

*endfile:
crtend.o%s ${lib}/crtn.o

*link_libgcc:
-L${lib} -L .%s

*libgcc:
libgcc.a%s %:if-exists(libgcc_eh.a%s)

*link:
-nostdlib %(zorvik_system_link)
")
  target_link_options(${target} PRIVATE -specs=${specs})
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C LINK_DEPENDS ${specs})
endfunction()

# With musl the executables link no C++ library (they are linked by the C
# driver, and CMake would otherwise add the C++ run-time libraries of the
# system for their C++ objects). Other targets of this directory link with
# the C++ driver, which adds its libraries itself.
if(ZORVIK_LIBC STREQUAL "musl")
  set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
  set(CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "")
endif()

# zorvik_executable(<target> <dir> [I386])
# The static ZORVIK executable <dir>/ZORVIK from the sources of the product
# folders, with the program's own operator new. After linking, its debug
# information goes to <dir>/ZORVIK.debug, the executable is stripped and
# linked to that file by name (gdb finds it beside the executable), and the
# data trailer is appended.
function(zorvik_executable target dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "I386" "" "")
  set(arch x86_64)
  if(arg_I386)
    set(arch i386)
  endif()
  set(heap ${PROJECT_SOURCE_DIR}/framework/QX3Heap.cpp)
  if(ZORVIK_LIBC STREQUAL "glibc" AND NOT arg_I386)
    # Same objects as the unit tests use.
    add_executable(${target} ${ZORVIK_MAIN} ${heap})
    target_link_libraries(${target} PRIVATE zorvik_core)
  else()
    add_executable(${target} ${ZORVIK_MAIN} ${heap} ${ZORVIK_SOURCES})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  endif()
  zorvik_size_options(${target})
  target_compile_options(${target} PRIVATE ${ZORVIK_EXECUTABLE_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${ZORVIK_SIZE_LINK_OPTIONS} ${ZORVIK_REPRO_LINK_OPTIONS})
  if(arg_I386)
    target_compile_options(${target} PRIVATE -m32)
    target_link_options(${target} PRIVATE -m32)
  endif()
  if(ZORVIK_LIBC STREQUAL "musl")
    zorvik_use_musl(${target} ${arch})
  elseif(NOT ZORVIK_LIBC STREQUAL "glibc")
    message(FATAL_ERROR "ZORVIK_LIBC must be musl or glibc, not ${ZORVIK_LIBC}")
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ZORVIK
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${dir})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ZORVIK ZORVIK.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=ZORVIK.debug ZORVIK
    COMMAND append-trailer ZORVIK
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/${dir}
    VERBATIM)
endfunction()
