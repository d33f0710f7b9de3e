# QUORVIX_SANITIZE builds everything with AddressSanitizer and UndefinedBehaviorSanitizer; any
# finding ends the program with an error, so ctest counts it as a failure. The options the tests
# run with are set here, so that plain `ctest` in such a tree checks the same way CI does.
# QUORVIX_FUZZ (clang only) adds libFuzzer's coverage to all code and links the targets in fuzz/
# against libFuzzer; without it those targets are built with a driver that replays their corpus.
option(QUORVIX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORVIX_FUZZ "Link the fuzz targets against libFuzzer (clang)" OFF)

set(QUORVIX_SANITIZER_ENV "")
if(QUORVIX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    set(supp ${CMAKE_SOURCE_DIR}/cmake/lsan.supp)
    # QtWebEngine's Chromium registers its own signal handlers and stacks; ASan must leave them be.
    set(QUORVIX_SANITIZER_ENV
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allow_user_segv_handler=1:use_sigaltstack=0:detect_stack_use_after_return=0:handle_segv=1:strict_string_checks=0"
        "LSAN_OPTIONS=suppressions=${supp}:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()

if(QUORVIX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUORVIX_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
