# One static library per src/ folder, with its sources gathered from the folder tree.
set(KV_WARNINGS -Wall -Wextra)
if(KV_WERROR)
    list(APPEND KV_WARNINGS -Werror)
endif()

function(kv_apply_warnings target)
    target_compile_options(${target} PRIVATE ${KV_WARNINGS})
endfunction()

# kv_add_library(<target> <folder> DEPS <targets...>)
function(kv_add_library target folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp ${CMAKE_SOURCE_DIR}/src/${folder}/*.h
         ${CMAKE_SOURCE_DIR}/src/${folder}/*.qrc)
    list(FILTER _srcs INCLUDE REGEX "\\.cpp$")
    if(NOT _srcs)
        # A folder whose code is still to come: an interface library keeps the chain linkable.
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
        return()
    endif()
    file(GLOB_RECURSE _all CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp ${CMAKE_SOURCE_DIR}/src/${folder}/*.h
         ${CMAKE_SOURCE_DIR}/src/${folder}/*.qrc)
    add_library(${target} STATIC ${_all})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    kv_apply_warnings(${target})
    if(OpenMP_CXX_FOUND)
        target_link_libraries(${target} PUBLIC OpenMP::OpenMP_CXX)
    endif()
endfunction()

# kv_add_test(<target> <folder> DEPS <targets...>): one GoogleTest program per tests/ folder.
function(kv_add_test target folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp
         ${CMAKE_SOURCE_DIR}/tests/${folder}/*.h)
    if(NOT _srcs)
        return()
    endif()
    add_executable(${target} ${_srcs})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} kv_testsupport)
    kv_apply_warnings(${target})
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endfunction()
