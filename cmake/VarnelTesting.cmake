# varnel_add_test(NAME SOURCES... [LIBS libs...] [PROPERTIES name value...])
# Builds one GoogleTest program, links the test support library and registers its cases.
function(varnel_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock varnel_options)
    # Tests are listed when CTest runs, not at build time: a build then runs no test program,
    # which under the sanitizers costs seconds each.
    # The programs that end-to-end tests start are found beside the test program, in bin/. One
    # variable only: gtest_discover_tests flattens the properties, so a list value would be split.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen ${ARG_PROPERTIES})
    foreach(src IN LISTS ARG_SOURCES)
        get_filename_component(abs ${src} ABSOLUTE)
        set_property(GLOBAL APPEND PROPERTY VARNEL_REGISTERED_TESTS ${abs})
    endforeach()
endfunction()

# A test file that no test program builds is a configure error: it would never run.
function(varnel_check_registered_tests)
    set(folders server tools)
    if(VARNEL_BUILD_CONTROLS)
        list(APPEND folders controls)
    endif()
    set(patterns)
    foreach(folder IN LISTS folders)
        list(APPEND patterns ${CMAKE_SOURCE_DIR}/${folder}/*_test.cpp)
    endforeach()
    file(GLOB_RECURSE found LIST_DIRECTORIES false ${patterns})
    get_property(registered GLOBAL PROPERTY VARNEL_REGISTERED_TESTS)
    foreach(file IN LISTS found)
        if(NOT file IN_LIST registered)
            message(FATAL_ERROR "Test file not registered with varnel_add_test: ${file}")
        endif()
    endforeach()
endfunction()
