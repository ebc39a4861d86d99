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
    include(${CMAKE_CURRENT_LIST_DIR}/MingwRuntimeDirs.cmake)
    trox_mingw_runtime_dirs(runtime_dirs)
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
