# Builds the browser UI's files into the program: writes OUT, a C++ source
# with each file of FILES (NAME=PATH=TYPE of UTF-8 text, separated by "|") as bytes and a
# table FindWebAsset looks them up in.
#   cmake -DOUT=web_assets.cpp -DFILES="index.html=/path/index.html=text/html|..." -P embed.cmake
string(REPLACE "|" ";" entries "${FILES}")
set(body "// Generated from host/web by embed.cmake: do not edit.\n#include <cstring>\n\n#include \"web_server.hpp\"\n\nnamespace zvhost {\nnamespace {\n")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  list(GET parts 2 type)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  # A string literal of escapes: compilers read one of megabytes (three.js)
  # far faster than a list of numbers.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" bytes "${hex}")
  string(REGEX REPLACE "(\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..\\\\x..)" "\\1\"\n\"" bytes "${bytes}")
  string(APPEND body "const unsigned char kAsset${index}[] =\n\"${bytes}\";\n")
  string(APPEND table "    {\"${name}\", \"${type}; charset=utf-8\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND body "const WebAsset kAssets[] = {\n${table}};\n}  // namespace\n\n")
string(APPEND body "const WebAsset* FindWebAsset(const std::string& name) {\n    for (const WebAsset& a : kAssets)\n        if (name == a.name) return &a;\n    return nullptr;\n}\n\n}  // namespace zvhost\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
