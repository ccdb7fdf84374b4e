# qvx_add_test(NAME name SOURCES ... [LIBRARIES ...] [TIMEOUT seconds] [LABELS ...])
#
# Builds one GoogleTest executable into a directory of its own, so that the
# files a test places next to its executable (an update.ini, say) belong to
# that executable alone, and registers it with ctest as one test.
function(qvx_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE qvx_test_main ${T_LIBRARIES})
    set_target_properties(${T_NAME} PROPERTIES
        AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin/${T_NAME})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QVX_UPDATE_EXE=$<TARGET_FILE:update>")
    # Qt itself is not built with ThreadSanitizer: its own memory accesses
    # cannot be judged and only produce noise, so they are ignored. Hand-overs
    # that Qt does under its own locks are marked where our code relies on them
    # (asynctaskspecification.cpp); accesses of our own code stay fully checked.
    if("thread" IN_LIST QVX_SANITIZE)
        set_property(TEST ${T_NAME} APPEND PROPERTY ENVIRONMENT
                     "TSAN_OPTIONS=ignore_noninstrumented_modules=1")
    endif()
    # The offscreen platform plugin leaks a little on its own; only that is
    # suppressed (tests/support/lsan.supp), leaks of our code still fail.
    if("address" IN_LIST QVX_SANITIZE)
        set_property(TEST ${T_NAME} APPEND PROPERTY ENVIRONMENT
                     "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp")
    endif()
endfunction()
