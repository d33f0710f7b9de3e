# The environment every test program runs in (and, in a sanitizer tree, the sanitizers' options).
set(QUORVIX_TEST_ENV
    "QT_QPA_PLATFORM=offscreen" "LANG=C.UTF-8" "LC_ALL=C.UTF-8"
    "QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox --disable-gpu" "QTWEBENGINE_DISABLE_SANDBOX=1"
    "QT_LOGGING_RULES=qt.webenginecontext.debug=false" ${QUORVIX_SANITIZER_ENV})

# quorvix_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT s] [UNIX_DISPATCHER_TOO])
# One QtTest program per unit, run by ctest in the environment every test expects.
# UNIX_DISPATCHER_TOO runs it a second time, as NAME_unixdispatcher, on Qt's own event dispatcher
# instead of the glib one, for code whose sockets must work on both.
function(quorvix_add_test name)
    cmake_parse_arguments(ARG "UNIX_DISPATCHER_TOO" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        QUORVIX_BIN_DIR="${QUORVIX_BIN_DIR}"
        QUORVIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(runs ${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${QUORVIX_TEST_ENV}")
    if(ARG_UNIX_DISPATCHER_TOO)
        list(APPEND runs ${name}_unixdispatcher)
        add_test(NAME ${name}_unixdispatcher COMMAND ${name})
        set_tests_properties(${name}_unixdispatcher PROPERTIES
            ENVIRONMENT "${QUORVIX_TEST_ENV};QT_NO_GLIB=1")
    endif()
    set_tests_properties(${runs} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    if(QUORVIX_SANITIZE AND name IN_LIST QUORVIX_SANITIZE_EXCLUDED)
        set_tests_properties(${runs} PROPERTIES DISABLED TRUE)
    endif()
endfunction()
