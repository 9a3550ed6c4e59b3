# The include check on a small tree of its own: an include up the chain stops it with the file, the
# line and the include; includes down the chain and within a level pass; a folder on no level is
# refused. Then the suite's own check of src/, as the suite runs it, on a copy of src/: it passes
# the tree as it is and refuses an include up the chain added to a file of it. Run as
#   cmake -DCHECK=<KvIncludeCheck.cmake> -DWORK=<folder> -DSOURCE=<src> -DBUILD=<build folder>
#         -DCTEST=<ctest> -P <this file>
cmake_minimum_required(VERSION 3.25)

set(root ${WORK}/src)
file(REMOVE_RECURSE ${WORK})

function(put path text)
    file(WRITE ${root}/${path} "${text}")
endfunction()

# Runs the check with the chain low <- mid,peer <- top; sets ok and output in the caller.
function(run_check)
    execute_process(COMMAND ${CMAKE_COMMAND} -DKV_CHECK_ROOT=${root}
                            "-DKV_CHECK_ARGS=LEVELS;low;mid,peer;top;OUTSIDE;tool" -P ${CHECK}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REGEX REPLACE "[ \n]+" " " output "${out}${err}")
    set(output "${output}" PARENT_SCOPE)
    if(result EQUAL 0)
        set(ok TRUE PARENT_SCOPE)
    else()
        set(ok FALSE PARENT_SCOPE)
    endif()
endfunction()

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
put(tool/Main.cpp "#include \"top/T.h\"\n")
run_check()
if(NOT ok)
    message(FATAL_ERROR "Includes down the chain and within a level were refused: ${output}")
endif()

# Refused includes in a file of a subfolder, one of them twice, and a commented include that is
# no include.
put(low/deep/Bad.cpp "// #include \"top/T.h\" is no include\n\n#include \"mid/M.h\"\n#include \"low/A.h\"\n  #  include <peer/P.h>\n  #  include <peer/P.h>\n")
run_check()
if(ok)
    message(FATAL_ERROR "An include up the chain passed the check")
endif()
expect_contains("src/low/deep/Bad.cpp:3: #include \"mid/M.h\" (src/low may not include src/mid)")
expect_contains("src/low/deep/Bad.cpp:5: #  include <peer/P.h> (src/low may not include src/peer)")
expect_contains("src/low/deep/Bad.cpp:6: #  include <peer/P.h> (src/low may not include src/peer)")
if(output MATCHES "Bad.cpp:[124]:|top/T.h")
    message(FATAL_ERROR "The check refused a line it should pass: ${output}")
endif()
file(REMOVE ${root}/low/deep/Bad.cpp)

file(MAKE_DIRECTORY ${root}/extra)
run_check()
if(ok)
    message(FATAL_ERROR "A folder on no level passed the check")
endif()
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

# A file of the platform, the bottom of the chain, that includes the application's main frame.
file(GLOB_RECURSE platform RELATIVE ${copy} ${copy}/platform/*.cpp)
list(SORT platform)
list(GET platform 0 edited)
file(READ ${copy}/${edited} text)
string(REGEX MATCHALL "\n" breaks "${text}")
list(LENGTH breaks line)
math(EXPR line "${line} + 1")
file(APPEND ${copy}/${edited} "#include \"app/MainFrm.h\"\n")
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \n]+" " " output "${out}${err}")
if(result EQUAL 0)
    message(FATAL_ERROR "The suite's include check passed src/${edited} including app/MainFrm.h")
endif()
expect_contains("src/${edited}:${line}: #include \"app/MainFrm.h\" (src/platform may not include src/app)")
