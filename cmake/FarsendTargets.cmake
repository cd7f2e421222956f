# Helpers that keep the per-directory CMake files short.
#
# Sources are collected by glob, so a new file in a subsystem needs no edit
# here. Platform-only sources live in subfolders:
#   <dir>/win/    built only for Windows
#   <dir>/posix/  built only for Linux and other POSIX systems

function(farsend_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(FARSEND_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

function(farsend_collect_sources out dir)
    file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(WIN32)
        file(GLOB plat CONFIGURE_DEPENDS ${dir}/win/*.cpp)
    else()
        file(GLOB plat CONFIGURE_DEPENDS ${dir}/posix/*.cpp)
    endif()
    set(${out} ${srcs} ${plat} PARENT_SCOPE)
endfunction()

# farsend_library(NAME DIR [DEPS ...])
function(farsend_library name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    farsend_collect_sources(srcs ${dir})
    add_library(${name} STATIC ${srcs} ${CMAKE_SOURCE_DIR}/src/common/empty.cpp)
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    farsend_warnings(${name})
endfunction()

# farsend_test_suite(NAME DIR [DEPS ...]): one GoogleTest binary per subsystem.
function(farsend_test_suite name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    farsend_collect_sources(srcs ${dir})
    if(NOT srcs)
        return()
    endif()
    add_executable(${name} ${srcs})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} gmock gtest_main)
    farsend_warnings(${name})
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
