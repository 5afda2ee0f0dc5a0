# Project-wide compiler flags: strict warnings, optional -Werror and sanitizers.
add_compile_options(-Wall -Wextra -Wpedantic)
if(VELLINE_WERROR)
    add_compile_options(-Werror)
endif()
if(VELLINE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# velline_target_defaults(target): settings every project target shares.
function(velline_target_defaults target)
    target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS)
endfunction()
if(VELLINE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "VELLINE_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
