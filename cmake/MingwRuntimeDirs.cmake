# Sets out to the folders where the MinGW compiler keeps the runtime DLLs its programs import:
# libstdc++ and libgcc beside it, winpthread with the target's libraries. Empty for other compilers.
function(trox_mingw_runtime_dirs out)
    set(dirs)
    if(MINGW)
        foreach(dll libstdc++-6.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(IS_ABSOLUTE "${found}")
                get_filename_component(dir "${found}" DIRECTORY)
                list(APPEND dirs "${dir}")
            endif()
        endforeach()
    endif()
    set(${out} "${dirs}" PARENT_SCOPE)
endfunction()
