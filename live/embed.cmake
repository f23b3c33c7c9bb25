# Writes the live view's page files into a C++ include, run by the build
# (cmake -P) whenever one of them changes:
#   cmake -DSRC_DIR=<live/web> -DNAMES=<a|b|c> -DOUT=<file.inc> -P embed.cmake
# Each file becomes a string of its bytes (every byte as a \x escape, so any
# byte passes; the compiler adds the zero byte after them), and the table
# live_embedded gives each name with its bytes, length, content type and the
# first 16 hex digits of its SHA-256.
string(REPLACE "|" ";" names "${NAMES}")
set(text "// Made by live/embed.cmake from live/web at build time: not to be edited.\n")
set(table "")
set(n 0)
string(REPEAT "[0-9a-f]" 64 row)  # 32 bytes to a line
foreach(name IN LISTS names)
  set(path "${SRC_DIR}/${name}")
  file(READ "${path}" hex HEX)
  file(SHA256 "${path}" sum)
  string(SUBSTRING "${sum}" 0 16 digest)
  string(LENGTH "${hex}" hex_length)
  math(EXPR length "${hex_length} / 2")
  if(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  else()
    message(FATAL_ERROR "embed.cmake: no content type for ${name}")
  endif()
  string(REGEX REPLACE "(${row})" "\\1\"\n\"" hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" bytes "${hex}")
  string(APPEND text "static const char live_embedded_${n}[] =\n\"${bytes}\";\n")
  string(APPEND table "    {\"${name}\", live_embedded_${n}, ${length}, \"${type}\", \"${digest}\"},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND text "const LIVE_ASSET live_embedded[] = {\n${table}};\n")
file(WRITE "${OUT}" "${text}")
