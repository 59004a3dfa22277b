# Writes the page script as a byte array into a C++ source file.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT}
"// Generated from resources/inject.js; do not edit.\n"
"#include <cstddef>\n"
"namespace tillbay::bridge::generated {\n"
"extern unsigned char const page_script_bytes[];\n"
"extern std::size_t const page_script_size;\n"
"unsigned char const page_script_bytes[] = { ${bytes} 0 };\n"
"std::size_t const page_script_size = ${size};\n"
"}\n")
