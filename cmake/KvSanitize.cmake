# The sanitizer build: AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer over
# every target of the tree, so that code added later is checked without further set-up. Any
# undefined-behaviour report ends the process, so a test that triggers one fails.
option(KV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# Entry points for coverage-guided fuzzing of the file readers (clang only, for local runs).
option(KV_FUZZERS "Build libFuzzer entry points for the file readers (needs clang)" OFF)

if(KV_SANITIZE)
    # GCC leaves float-to-integer overflow out of "undefined"; clang includes it. Both ask for it.
    set(KV_SANITIZE_FLAGS -fsanitize=address,undefined,float-cast-overflow
        -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options(${KV_SANITIZE_FLAGS})
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
    add_compile_definitions(KV_SANITIZE=1)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        # Clang reports every loop it is asked to vectorise (omp simd) and cannot; the checks of
        # UndefinedBehaviorSanitizer around each access keep it from doing so in this build only.
        add_compile_options(-Wno-pass-failed)
    endif()
endif()

if(KV_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KV_FUZZERS needs clang: configure with CC=clang CXX=clang++")
    endif()
    # Coverage for the fuzzer in every library; the entry points link the fuzzer's own main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
