# Warnings are errors on our own code, under GCC and Clang alike.
function(loomwork_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
endfunction()
