# Warnings, numeric rules and sanitizers applied per target.
function(vocarn_target_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra
        # The effects, transform and drawings must give the same last bit on every machine:
        # no fused multiply-add, no fast-math.
        -ffp-contract=off -fno-fast-math)
    if(WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    set(san "")
    if(ENABLE_ASAN)
        list(APPEND san address)
    endif()
    if(ENABLE_UBSAN)
        list(APPEND san undefined)
    endif()
    if(ENABLE_TSAN)
        list(APPEND san thread)
    endif()
    if(san)
        list(JOIN san "," san_list)
        target_compile_options(${target} PRIVATE -fsanitize=${san_list} -fno-omit-frame-pointer
            -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=${san_list})
    endif()
endfunction()
