# Turns a text file into C++ that registers it as a resource of the
# executable, with CR LF line ends, before main runs.
# cmake -DINPUT=... -DOUTPUT=... -DTYPE=10 -DIDENTIFIER=105 -DLANGUAGE=1033 -P Embed.cmake
file(READ "${INPUT}" Content)
string(REPLACE "\r\n" "\n" Content "${Content}")
string(REPLACE "\n" "\r\n" Content "${Content}")
file(WRITE "${OUTPUT}.text" "${Content}")
file(READ "${OUTPUT}.text" Hex HEX)
file(REMOVE "${OUTPUT}.text")
string(LENGTH "${Hex}" HexLength)
math(EXPR Size "${HexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," Bytes "${Hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " Bytes "${Bytes}")
file(WRITE "${OUTPUT}.new" "// Generated from ${INPUT}; do not edit.
#include <libloaderapi.h>

namespace {

const unsigned char Data[${Size}] = {
    ${Bytes}
};

struct Registration
{
    Registration() { Platform::RegisterResource(${TYPE}, ${IDENTIFIER}, ${LANGUAGE}, Data, sizeof(Data)); }
} Registered;

} // namespace
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
