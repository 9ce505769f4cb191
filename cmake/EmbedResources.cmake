# Turns the character lists into a C++ source defining their bytes, so the
# program carries them without a resource compiler. Run as
#   cmake -DINPUT_DIR=<folder of the .tab files> -DOUTPUT=<file.cpp> -P EmbedResources.cmake
# The output depends only on the list bytes, so rebuilds are reproducible.
cmake_minimum_required(VERSION 3.22)

if(NOT DEFINED INPUT_DIR OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "EmbedResources.cmake needs -DINPUT_DIR=... and -DOUTPUT=...")
endif()

# Resource number and class bit, in the order the table loads them.
set(lists "110:0x01000000u" "111:0x02000000u" "108:0x08000000u" "109:0x08000000u"
          "112:0x04000000u")

set(arrays "")
set(entries "")
foreach(item IN LISTS lists)
  string(REPLACE ":" ";" parts "${item}")
  list(GET parts 0 number)
  list(GET parts 1 bit)
  set(path "${INPUT_DIR}/${number}.tab")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "missing character list ${path}")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  if(hex_length EQUAL 0)
    message(FATAL_ERROR "empty character list ${path}")
  endif()
  math(EXPR size "${hex_length} / 2")
  # 16 bytes a line, then each byte as 0x.., .
  string(REPEAT "[0-9a-f]" 32 line_pattern)
  string(REGEX REPLACE "(${line_pattern})" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(STRIP "${bytes}" bytes)
  string(APPEND arrays "const unsigned char kList${number}[${size}] = {\n    ${bytes}\n};\n\n")
  string(APPEND entries "    {${number}, ${bit}, kList${number}, sizeof(kList${number})},\n")
endforeach()

set(source "// Generated from resources/charlists by cmake/EmbedResources.cmake. Do not edit.
#include \"store/character_lists.h\"

namespace mirel {
namespace {

${arrays}}  // namespace

const CharacterListResource kCharacterLists[kCharacterListCount] = {
${entries}};

}  // namespace mirel
")

file(WRITE "${OUTPUT}.tmp" "${source}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
