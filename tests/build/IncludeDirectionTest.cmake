# The include check on a small tree of its own: an include up the chain stops it with the file, the
# line and the include, also up a chain among the sub-folders of a folder; includes down the chain
# and within a level pass; a folder on no level is refused. Then the suite's own check of src/, as
# the suite runs it, on a copy of src/: it passes the tree as it is and refuses an include up the
# chain added to a file of it, between the top folders and between the sub-folders of the
# platform. Run as
#   cmake -DCHECK=<KvIncludeCheck.cmake> -DWORK=<folder> -DSOURCE=<src> -DBUILD=<build folder>
#         -DCTEST=<ctest> -P <this file>
cmake_minimum_required(VERSION 3.25)

set(root ${WORK}/src)
file(REMOVE_RECURSE ${WORK})

function(put path text)
    file(WRITE ${root}/${path} "${text}")
endfunction()

# Runs the check with the chain low <- mid,peer <- top, and inside top the chain base <- upper;
# sets ok and output in the caller.
function(run_check)
    execute_process(COMMAND ${CMAKE_COMMAND} -DKV_CHECK_ROOT=${root}
                            "-DKV_CHECK_ARGS=LEVELS;low;mid,peer;top;OUTSIDE;tool;WITHIN;top;LEVELS;base;upper"
                            -P ${CHECK}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REGEX REPLACE "[ \n]+" " " output "${out}${err}")
    set(output "${output}" PARENT_SCOPE)
    if(result EQUAL 0)
        set(ok TRUE PARENT_SCOPE)
    else()
        set(ok FALSE PARENT_SCOPE)
    endif()
endfunction()

# Runs the check and stops the test unless the check refused the tree (what tells what it holds).
macro(run_check_refusing what)
    run_check()
    if(ok)
        message(FATAL_ERROR "${what} passed the check")
    endif()
endmacro()

# Whether the output holds the text, spaces and line breaks of both read as one space.
function(expect_contains text)
    string(REGEX REPLACE "[ \n]+" " " text "${text}")
    string(FIND "${output}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "The check's output lacks \"${text}\": ${output}")
    endif()
endfunction()

put(low/A.h "#pragma once\n#include \"low/B.h\"\n#include <vector>\n")
put(low/B.h "#pragma once\n")
put(mid/M.h "#pragma once\n#include \"low/A.h\"\n#include \"peer/P.h\"\n")
put(peer/P.h "#pragma once\n#include \"mid/M.h\"\n")
put(top/T.cpp "#include \"mid/M.h\"\n#include \"low/A.h\"\n")
put(top/base/B.h "#pragma once\n#include \"low/A.h\"\n#include \"top/base/C.h\"\n")
put(top/upper/U.cpp "#include \"top/base/B.h\"\n#include \"mid/M.h\"\n")
put(tool/Main.cpp "#include \"top/T.h\"\n")
run_check()
if(NOT ok)
    message(FATAL_ERROR "Includes down the chain and within a level were refused: ${output}")
endif()

# Refused includes in a file of a subfolder, one of them twice, and a commented include that is
# no include.
put(low/deep/Bad.cpp "// #include \"top/T.h\" is no include\n\n#include \"mid/M.h\"\n#include \"low/A.h\"\n  #  include <peer/P.h>\n  #  include <peer/P.h>\n")
run_check_refusing("An include up the chain")
expect_contains("src/low/deep/Bad.cpp:3: #include \"mid/M.h\" (src/low may not include src/mid)")
expect_contains("src/low/deep/Bad.cpp:5: #  include <peer/P.h> (src/low may not include src/peer)")
expect_contains("src/low/deep/Bad.cpp:6: #  include <peer/P.h> (src/low may not include src/peer)")
if(output MATCHES "Bad.cpp:[124]:|top/T.h")
    message(FATAL_ERROR "The check refused a line it should pass: ${output}")
endif()
file(REMOVE ${root}/low/deep/Bad.cpp)

# Up the chain inside top; within its level and down the outer chain from inside it pass.
put(top/base/Bad.h "#pragma once\n#include \"top/upper/U.h\"\n#include \"top/base/B.h\"\n#include \"low/A.h\"\n")
run_check_refusing("An include up the chain of top's sub-folders")
expect_contains("src/top/base/Bad.h:2: #include \"top/upper/U.h\" (src/top/base may not include src/top/upper)")
if(output MATCHES "Bad.h:[34]:")
    message(FATAL_ERROR "The check refused a line it should pass: ${output}")
endif()
file(REMOVE ${root}/top/base/Bad.h)
file(MAKE_DIRECTORY ${root}/top/loose)
run_check_refusing("A sub-folder on no level")
expect_contains("src/top/loose stands on no level of the folder chain")
file(REMOVE_RECURSE ${root}/top/loose)

file(MAKE_DIRECTORY ${root}/extra)
run_check_refusing("A folder on no level")
expect_contains("src/extra stands on no level of the folder chain")

# The command of the suite's check of src/, with its root moved to the copy.
execute_process(COMMAND ${CTEST} --test-dir ${BUILD} --show-only=json-v1 -R "^build\\.include_direction\\.src$"
                OUTPUT_VARIABLE json RESULT_VARIABLE result)
string(JSON tests LENGTH "${json}" tests)
if(NOT result EQUAL 0 OR NOT tests EQUAL 1)
    message(FATAL_ERROR "The suite runs no include check on src/ (no test build.include_direction.src)")
endif()
set(copy ${WORK}/copy/src)
string(JSON arguments LENGTH "${json}" tests 0 command)
math(EXPR last "${arguments} - 1")
set(command "")
set(moved FALSE)
foreach(i RANGE ${last})
    string(JSON argument GET "${json}" tests 0 command ${i})
    if(argument STREQUAL "-DKV_CHECK_ROOT=${SOURCE}")
        set(argument "-DKV_CHECK_ROOT=${copy}")
        set(moved TRUE)
    endif()
    string(REPLACE ";" "\\;" argument "${argument}")
    list(APPEND command "${argument}")
endforeach()
if(NOT moved)
    message(FATAL_ERROR "The suite's include check does not check ${SOURCE}: ${command}")
endif()

file(COPY ${SOURCE}/ DESTINATION ${copy} FILES_MATCHING PATTERN "*.h" PATTERN "*.cpp")
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \n]+" " " output "${out}${err}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "The suite's include check refused src/ as it is: ${output}")
endif()

# The first .cpp file of the folder of the copy, with the include added at its end, refused by the
# suite's check as an include of the folder named by refused; the file is as it was afterwards.
function(expect_refused folder include refused)
    file(GLOB_RECURSE files RELATIVE ${copy} ${copy}/${folder}/*.cpp)
    list(SORT files)
    list(GET files 0 edited)
    file(READ ${copy}/${edited} text)
    string(REGEX MATCHALL "\n" breaks "${text}")
    list(LENGTH breaks line)
    math(EXPR line "${line} + 1")
    file(APPEND ${copy}/${edited} "#include \"${include}\"\n")
    execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REGEX REPLACE "[ \n]+" " " output "${out}${err}")
    if(result EQUAL 0)
        message(FATAL_ERROR "The suite's include check passed src/${edited} including ${include}")
    endif()
    file(WRITE ${copy}/${edited} "${text}")
    expect_contains("src/${edited}:${line}: #include \"${include}\" (${refused})")
endfunction()

# A file of the platform, the bottom of the chain, that includes the application's main frame.
expect_refused(platform app/MainFrm.h "src/platform may not include src/app")
# Files of the platform that include a sub-folder above their own: the write layer of the tools,
# the bottom of the platform, includes a raster layer of the core, and the gap filler of the core
# includes the user-interface services.
expect_refused(platform/tools platform/raster/RasterSpace.h
               "src/platform/tools may not include src/platform/raster")
expect_refused(platform/gridding platform/ui/Interaction.h
               "src/platform/gridding may not include src/platform/ui")
