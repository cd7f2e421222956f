# cmake -DOUTPUT=FILE.cpp -DROOT=DIR -DFILES="a|b|..." -P EmbedPageAssets.cmake
#
# Writes the line page's files into a C++ source as byte arrays, with the
# table page_assets.cpp looks paths up in. Each file is served at "/" and
# its path below ROOT (a file outside ROOT, at "/" and its name).
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" FILES "${FILES}")
set(body "")
set(table "")
set(index 0)
foreach(file IN LISTS FILES)
    file(RELATIVE_PATH relative "${ROOT}" "${file}")
    if(relative MATCHES "^\\.\\.")
        get_filename_component(relative "${file}" NAME)
    endif()
    get_filename_component(extension "${file}" LAST_EXT)
    string(TOLOWER "${extension}" extension)
    if(extension STREQUAL ".html")
        set(type "text/html; charset=utf-8")
    elseif(extension STREQUAL ".js" OR extension STREQUAL ".mjs")
        set(type "text/javascript; charset=utf-8")
    elseif(extension STREQUAL ".css")
        set(type "text/css; charset=utf-8")
    elseif(extension STREQUAL ".svg")
        set(type "image/svg+xml")
    elseif(extension STREQUAL ".png")
        set(type "image/png")
    else()
        message(FATAL_ERROR "${file}: the page serves no file of this kind")
    endif()
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # An empty file still needs an array of one byte.
    if(size EQUAL 0)
        set(bytes "0")
    endif()
    string(APPEND body "const unsigned char kAsset${index}[] = {${bytes}};\n")
    string(APPEND table "    {\"/${relative}\", \"${type}\", kAsset${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(text "// Written by cmake/EmbedPageAssets.cmake from src/line/page/: do not edit.
#include \"line/page_assets.h\"

namespace farsend::line {
namespace {
${body}}  // namespace

extern const PageAsset kPageAssets[] = {
${table}};
extern const std::size_t kPageAssetCount = ${index};

}  // namespace farsend::line
")
# Unchanged files keep their time: nothing is rebuilt for nothing.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
