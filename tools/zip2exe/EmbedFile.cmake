# Turns a file into a C++ source defining pellux::zip2exe::StubImage().
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -P EmbedFile.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
if(digits EQUAL 0)
  message(FATAL_ERROR "EmbedFile: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by EmbedFile.cmake; do not edit.\n"
  "#include \"tools/zip2exe/StubImage.h\"\n\n"
  "namespace pellux::zip2exe {\nnamespace {\nconst unsigned char kImage[] = {\n${bytes}\n};\n}\n"
  "std::span<const unsigned char> StubImage() { return {kImage, sizeof kImage}; }\n}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
