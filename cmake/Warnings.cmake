# Project-wide warning policy: every warning is an error.
add_library(p50x_warnings INTERFACE)
if(MSVC)
  target_compile_options(p50x_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(p50x_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
endif()
