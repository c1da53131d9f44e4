# QUORREL_SANITIZE: AddressSanitizer and UndefinedBehaviorSanitizer on
# everything built here, every finding fatal. QUORREL_TSAN: ThreadSanitizer
# instead (the two cannot share a build). QUORREL_FUZZ (clang only) adds
# libFuzzer's coverage to the same code so fuzz/ can link its targets.
include_guard(GLOBAL)

option(QUORREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORREL_TSAN "Build with ThreadSanitizer" OFF)
option(QUORREL_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(QUORREL_TSAN AND (QUORREL_SANITIZE OR QUORREL_FUZZ))
    message(FATAL_ERROR "QUORREL_TSAN cannot be combined with QUORREL_SANITIZE or QUORREL_FUZZ")
endif()
if(QUORREL_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(QUORREL_SANITIZE OR QUORREL_FUZZ)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(QUORREL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUORREL_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
