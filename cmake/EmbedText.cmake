# Writes a C++ source that defines a NUL-terminated char array holding the
# exact bytes of a file (no newline or encoding changes).
function(qb_embed_text input output symbol)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR bytes "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${hex}")
  file(WRITE "${output}.tmp"
    "// Generated from ${input}; do not edit.\n"
    "extern const char ${symbol}[] = {${body}'\\0'};\n"
    "extern const unsigned ${symbol}Size = ${bytes};\n")
  configure_file("${output}.tmp" "${output}" COPYONLY)
endfunction()
