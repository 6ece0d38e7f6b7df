# Copies a language file for the Windows build with a font Windows has in place of the
# Linux one: cmake -DSRC=... -DDST=... -DFONT=... -P windows_fonts.cmake
file(READ ${SRC} _text)
string(REGEX REPLACE "Mode_Font=[^\r\n]*" "Mode_Font=${FONT}" _text "${_text}")
file(WRITE ${DST} "${_text}")
