# Copies a text file with CR LF line ends, as Windows programs read text.
# cmake -DINPUT=... -DOUTPUT=... -P LineEnds.cmake
file(READ "${INPUT}" Content)
string(REPLACE "\r\n" "\n" Content "${Content}")
string(REPLACE "\n" "\r\n" Content "${Content}")
file(WRITE "${OUTPUT}" "${Content}")
