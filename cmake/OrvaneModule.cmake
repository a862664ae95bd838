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
