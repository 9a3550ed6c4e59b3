# kv_check_include_direction(<source root> LEVELS <level>... [OUTSIDE <folder>...]
#                            [WITHIN <folder> LEVELS <level>... [OUTSIDE <folder>...]]...)
# Refuses an include that points up the chain of folders, at configure time. Each level names the
# folders of <source root> on it, several on one level separated by commas ("demtools,analysis");
# the levels go from the bottom of the chain to its top. A file may include headers of its own level
# and of the levels below; an include of a folder on a higher level stops the configure with the
# file, the line and the include. Every folder of the root stands on a level or is named OUTSIDE
# (a program of its own that the chain does not hold, whose files are not read).
#
# WITHIN gives a folder of the root a chain of its own among its sub-folders, checked the same way
# on the includes that name them ("platform/tools/SafeFile.h" names the sub-folder tools of
# platform); the includes of other folders are the outer chain's.
#
# Only the #include lines are read (a pattern match per file); the whole text of a file is read
# only to give the line number of an include that is refused.
#
# kv_add_include_direction_test(<test name>)
# A CTest test that runs the check the configure ran again, on the tree as it is then: an include
# added to a file after the configure is refused by the suite.
if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.25)
endif()

function(kv_check_include_direction root)
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        # The check as kv_add_include_direction_test runs it again.
        set_property(GLOBAL PROPERTY KV_INCLUDE_DIRECTION_CHECK ${root} ${ARGN})
    endif()
    # The outer chain, then one chain per WITHIN.
    set(_chain "")
    set(_prefix "")
    set(_refused "")
    foreach(_argument ${ARGN} WITHIN)
        if(_argument STREQUAL "WITHIN")
            if(_chain OR _prefix STREQUAL "")
                _kv_check_chain("${root}" "${_prefix}" ${_chain})
                string(APPEND _refused "${_chain_refused}")
            endif()
            set(_chain "")
            set(_prefix WITHIN)
        elseif(_prefix STREQUAL "WITHIN")
            set(_prefix ${_argument}/)
        else()
            list(APPEND _chain ${_argument})
        endif()
    endforeach()
    if(_refused)
        message(FATAL_ERROR "Includes against the direction of the folder chain "
                            "(a folder includes only its own level and those below it):${_refused}")
    endif()
endfunction()

# One chain: the folders of <root>/<prefix> on their levels, the includes that begin with <prefix>
# followed by one of them. Sets _chain_refused in the caller to the includes it refuses.
function(_kv_check_chain root prefix)
    cmake_parse_arguments(ARG "" "" "LEVELS;OUTSIDE" ${ARGN})
    get_filename_component(_root_name ${root} NAME)
    set(_base ${root}/${prefix})
    string(REGEX REPLACE "/$" "" _base "${_base}")
    set(_shown_base ${_root_name}/${prefix})
    set(_level 0)
    set(_folders "")
    foreach(_entry ${ARG_LEVELS})
        string(REPLACE "," ";" _names "${_entry}")
        foreach(_name ${_names})
            set(_level_of_${_name} ${_level})
            list(APPEND _folders ${_name})
        endforeach()
        math(EXPR _level "${_level} + 1")
    endforeach()

    file(GLOB _present LIST_DIRECTORIES true RELATIVE ${_base} ${_base}/*)
    foreach(_dir ${_present})
        if(IS_DIRECTORY ${_base}/${_dir} AND NOT _dir IN_LIST _folders AND NOT _dir IN_LIST ARG_OUTSIDE)
            message(FATAL_ERROR "${_shown_base}${_dir} stands on no level of the folder chain "
                                "(kv_check_include_direction in src/CMakeLists.txt)")
        endif()
    endforeach()

    set(_refused "")
    foreach(_folder ${_folders})
        file(GLOB_RECURSE _files ${_base}/${_folder}/*.h ${_base}/${_folder}/*.cpp)
        foreach(_file ${_files})
            file(STRINGS ${_file} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]${prefix}[A-Za-z_]+/")
            set(_text "")
            foreach(_line ${_includes})
                string(REGEX MATCH "[\"<]${prefix}([A-Za-z_]+)/" _target "${_line}")
                set(_target ${CMAKE_MATCH_1})
                if(NOT DEFINED _level_of_${_target}
                   OR NOT _level_of_${_target} GREATER _level_of_${_folder})
                    continue()
                endif()
                # The line number: the line breaks before the include, searched for after the
                # include refused before it in the same file.
                if(_text STREQUAL "")
                    file(READ ${_file} _text)
                    set(_offset 0)
                endif()
                string(SUBSTRING "${_text}" ${_offset} -1 _rest)
                string(FIND "${_rest}" "${_line}" _at)
                math(EXPR _offset "${_offset} + ${_at}")
                string(SUBSTRING "${_text}" 0 ${_offset} _before)
                string(REGEX MATCHALL "\n" _breaks "${_before}")
                list(LENGTH _breaks _number)
                math(EXPR _number "${_number} + 1")
                string(LENGTH "${_line}" _length)
                math(EXPR _offset "${_offset} + ${_length}")
                file(RELATIVE_PATH _shown ${root}/.. ${_file})
                string(STRIP "${_line}" _line)
                string(APPEND _refused "\n  ${_shown}:${_number}: ${_line} "
                                       "(${_shown_base}${_folder} may not include ${_shown_base}${_target})")
            endforeach()
        endforeach()
    endforeach()
    set(_chain_refused "${_refused}" PARENT_SCOPE)
endfunction()

function(kv_add_include_direction_test name)
    get_property(_check GLOBAL PROPERTY KV_INCLUDE_DIRECTION_CHECK)
    if(NOT _check)
        message(FATAL_ERROR "kv_add_include_direction_test: no include check ran at configure")
    endif()
    list(POP_FRONT _check _root)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -DKV_CHECK_ROOT=${_root} "-DKV_CHECK_ARGS=${_check}"
                                  -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
endfunction()

# As a script: cmake -DKV_CHECK_ROOT=<root> "-DKV_CHECK_ARGS=LEVELS;<level>;..." -P KvIncludeCheck.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED KV_CHECK_ROOT)
    kv_check_include_direction(${KV_CHECK_ROOT} ${KV_CHECK_ARGS})
endif()
