# IDL compilation with widl. Generated files go to one folder on every
# target's include path: <name>.h, <name>_i.c, <name>_p.c and <name>.tlb.
set(ORVANE_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${ORVANE_IDL_DIR})
set(ORVANE_WIDL widl-stable)
set(ORVANE_WINE_IDL /usr/include/wine/wine/windows)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# orvane_idl(<idl file> [TLB] [PROXY]) defines a target idl_<name>.
function(orvane_idl idl)
    cmake_parse_arguments(ARG "TLB;PROXY" "" "DEPENDS" ${ARGN})
    get_filename_component(name ${idl} NAME_WE)
    get_filename_component(src ${idl} ABSOLUTE)
    set(o ${ORVANE_IDL_DIR})
    set(flags -I ${ORVANE_WINE_IDL} -I ${CMAKE_SOURCE_DIR}/common/opc -I ${CMAKE_SOURCE_DIR}/common/idl -I ${o} --win64 -Oif)
    set(outputs ${o}/${name}.h ${o}/${name}_i.c)
    set(cmds COMMAND ${ORVANE_WIDL} ${flags} -h -o ${o}/${name}.h ${src}
             COMMAND ${ORVANE_WIDL} ${flags} -u -o ${o}/${name}_i.c ${src})
    if(ARG_TLB)
        list(APPEND outputs ${o}/${name}.tlb)
        list(APPEND cmds COMMAND ${ORVANE_WIDL} ${flags} -t -o ${o}/${name}.tlb ${src})
    endif()
    if(ARG_PROXY)
        list(APPEND outputs ${o}/${name}_p.c)
        # widl -Oif mis-points [out, string] LPWSTR* parameters, and Wine's stub leaks [in]
        # VARIANTs described as simple references; widlfix re-points both.
        list(APPEND cmds COMMAND ${ORVANE_WIDL} ${flags} -p -o ${o}/${name}_p.c ${src}
                         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/widlfix.py ${o}/${name}_p.c)
        # proxy/ builds its DLLs from this list (common/ is configured first).
        set_property(GLOBAL APPEND PROPERTY ORVANE_PROXY_IDLS ${name})
    endif()
    file(GLOB idl_deps ${CMAKE_SOURCE_DIR}/common/opc/*.idl ${CMAKE_SOURCE_DIR}/common/idl/*.idl)
    add_custom_command(OUTPUT ${outputs} ${cmds}
        DEPENDS ${src} ${idl_deps} ${CMAKE_SOURCE_DIR}/tools/widlfix.py
        COMMENT "widl ${name}.idl" VERBATIM)
    add_custom_target(idl_${name} DEPENDS ${outputs})
    foreach(dep ${ARG_DEPENDS})
        add_dependencies(idl_${name} ${dep})
    endforeach()
endfunction()
