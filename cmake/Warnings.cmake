# Project-wide warning policy: every warning is an error.
add_library(p50x_warnings INTERFACE)
if(MSVC)
  target_compile_options(p50x_warnings INTERFACE /W4 /WX)
  # fopen, strerror and friends are used as the standard defines them.
  target_compile_definitions(p50x_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
else()
  target_compile_options(p50x_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O2/-O3 reports -Wrestrict inside libstdc++'s own
    # std::string operator+ (GCC bug 105651): a false alarm, not our code.
    target_compile_options(p50x_warnings INTERFACE -Wno-restrict)
  endif()
endif()
