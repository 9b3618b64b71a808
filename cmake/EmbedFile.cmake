# cmake -DIN=file -DOUT=file.cpp -DNAME=symbol -P EmbedFile.cmake: the file's
# bytes as a C++ array, vx::embedded::NAME and NAME_size.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUT}" "// Made from ${IN} by cmake/EmbedFile.cmake; edit that file.\nnamespace vx::embedded {\nextern const char ${NAME}[] = {${bytes}0};\nextern const int ${NAME}_size = ${size};\n}\n")
