# The folder an operator copies to a Windows PC, made by `cmake --install`: the executable beside
# the Qt DLLs and plugins it loads and the MinGW runtime DLLs they import. `cpack` zips it.
foreach(module Core Gui Widgets Xml)
    install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
# Qt looks for plugins beside the executable. The offscreen platform serves headless runs.
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>
    DESTINATION platforms)
if(TARGET Qt6::QWindowsVistaStylePlugin)
    install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
endif()

if(MINGW)
    # Where the compiler keeps its runtime DLLs: libstdc++ and libgcc beside it, winpthread with the
    # target's libraries.
    set(runtime_dirs)
    foreach(dll libstdc++-6.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(IS_ABSOLUTE "${found}")
            get_filename_component(dir "${found}" DIRECTORY)
            list(APPEND runtime_dirs "${dir}")
        endif()
    endforeach()
    install(CODE "set(objdump \"${CMAKE_OBJDUMP}\")\nset(runtime_dirs \"${runtime_dirs}\")")
    install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/DeployMingwRuntime.cmake)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME trox_inst_env)
set(CPACK_PACKAGE_VENDOR "Quarnby Technology")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
