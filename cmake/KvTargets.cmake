# One static library per src/ folder, with its sources gathered from the folder tree.
set(KV_WARNINGS -Wall -Wextra)
if(KV_WERROR)
    list(APPEND KV_WARNINGS -Werror)
endif()

function(kv_apply_warnings target)
    target_compile_options(${target} PRIVATE ${KV_WARNINGS})
endfunction()

# kv_add_library(<target> <folder>... [DEPS <targets...>] [PRIVATE_DEPS <targets...>] [OPENMP])
# One static library from the sources of one or more folders of src/ (each gathered with its
# sub-folders). DEPS are linked PUBLIC: our own libraries and the third-party libraries whose
# headers our headers include; PRIVATE_DEPS are used by the sources only. OPENMP links OpenMP
# where the sources use its pragmas.
function(kv_add_library target)
    cmake_parse_arguments(ARG "OPENMP" "" "DEPS;PRIVATE_DEPS" ${ARGN})
    set(_all "")
    foreach(_folder ${ARG_UNPARSED_ARGUMENTS})
        file(GLOB_RECURSE _found CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/src/${_folder}/*.cpp ${CMAKE_SOURCE_DIR}/src/${_folder}/*.h
             ${CMAKE_SOURCE_DIR}/src/${_folder}/*.qrc)
        list(APPEND _all ${_found})
    endforeach()
    set(_srcs ${_all})
    list(FILTER _srcs INCLUDE REGEX "\\.cpp$")
    if(NOT _srcs)
        # A folder whose code is still to come: an interface library keeps the chain linkable.
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/src)
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
        return()
    endif()
    add_library(${target} STATIC ${_all})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    kv_apply_warnings(${target})
    if(ARG_OPENMP AND OpenMP_CXX_FOUND)
        target_link_libraries(${target} PRIVATE OpenMP::OpenMP_CXX)
    endif()
endfunction()

# SAGA 8.5's GDAL import releases an object GDAL made with operator new through free(). The
# sanitizer build would stop there on every run of that import, so the programs that run it
# (FOREIGN_FREE) leave the allocator-mismatch check out (every other check stays) and record
# whole allocation stacks, so that the leak suppression of that import can see where it allocated.
set(KV_FOREIGN_FREE_ASAN "ASAN_OPTIONS=string_append::alloc_dealloc_mismatch=0:fast_unwind_on_malloc=0")

# kv_add_test(<target> <folder> DEPS <targets...> [SUPPORT <target>] [FOREIGN_FREE]): one
# GoogleTest program per tests/ folder, with the shared test support (its main included) of
# kv_testsupport unless another is given.
function(kv_add_test target folder)
    cmake_parse_arguments(ARG "FOREIGN_FREE" "SUPPORT" "DEPS" ${ARGN})
    if(NOT ARG_SUPPORT)
        set(ARG_SUPPORT kv_testsupport)
    endif()
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp
         ${CMAKE_SOURCE_DIR}/tests/${folder}/*.h)
    if(NOT _srcs)
        return()
    endif()
    add_executable(${target} ${_srcs})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} ${ARG_SUPPORT})
    kv_apply_warnings(${target})
    set(_properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
    if(ARG_FOREIGN_FREE)
        list(APPEND _properties ENVIRONMENT_MODIFICATION "${KV_FOREIGN_FREE_ASAN}")
    endif()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${_properties})
endfunction()
