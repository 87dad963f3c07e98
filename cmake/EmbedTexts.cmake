# With OUTPUT (a .cpp file), NAMES and FILES (lists of one length) set,
# include(EmbedTexts) writes at configure time a C++ source that defines,
# for each file, `extern const char <name>[]`
# holding the file's bytes and a closing NUL: the helper module's sources
# that ZORVIK writes out, kept as files of their own in modules/qorfldrv/.
# The output names no path, so builds in other directories stay identical.
set(text "// Generated at configure time from modules/qorfldrv/; do not edit.\n")
string(APPEND text "#include \"platform/drvtext.h\"\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET FILES ${i} file)
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND text "\nextern const char ${name}[];\nconst char ${name}[] = {\n    ${bytes}0};\n")
endforeach()
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${text}" @ONLY)
