# Version resources: every module carries FileVersion "1, 0, 0, <build>" and
# CompanyName "Axolent" in the German string table 040704b0.
function(orvane_version_resource target description original_name)
    set(ORVANE_FILE_DESCRIPTION "${description}")
    set(ORVANE_ORIGINAL_FILENAME "${original_name}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

# Tests run under Wine in the build's prefix; discovery happens at test time
# so that building needs no prefix.
function(orvane_gtest target)
    target_link_libraries(${target} PRIVATE gtest gmock gtest_main)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES TIMEOUT 300 ${ARGN})
endfunction()

# The tests of a program that talks to the registered bus simulator. There is one simulator
# process for every client, and these tests reset it and change its drives (Sim/Reset closes
# every slave's parameter channel), so two of them must never run at the same time; those of
# the interaction folder also share their settings keys.
function(orvane_bus_gtest target)
    orvane_gtest(${target} RESOURCE_LOCK bus_simulator ${ARGN})
endfunction()

# GUI tests drive a program's windows from another process; they run under a virtual display
# (scripts/gui-run), once with a German and once with an English user interface, one at a
# time because they share the display and the prefix's wineserver.
function(orvane_gui_test target)
    target_link_libraries(${target} PRIVATE gui_driver gtest gmock gtest_main)
    foreach(locale de_DE en_US)
        add_test(NAME ${target}_${locale}
            COMMAND env LC_ALL=${locale}.UTF-8 ORVANE_BUILD=${CMAKE_BINARY_DIR}
                    ${CMAKE_SOURCE_DIR}/scripts/gui-run /usr/bin/wine $<TARGET_FILE:${target}>)
        set_tests_properties(${target}_${locale} PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
    endforeach()
endfunction()
