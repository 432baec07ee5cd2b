# Our own targets build warning-free under both compilers.
function(vdm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
