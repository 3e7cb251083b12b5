# Project-wide warning policy: every warning is on in every build. Warnings
# become errors only where somebody is there to mend them at once: the
# developer and CI builds (the debug, asan, tsan and fuzz presets, and CI's
# `make test` and Windows build through -DP50X_WERROR=ON). A user's `make`
# must not break because the next compiler release warns about something new.
option(P50X_WERROR "Turn compiler warnings into errors (developer and CI builds)" OFF)

add_library(p50x_warnings INTERFACE)
if(MSVC)
  target_compile_options(p50x_warnings INTERFACE /W4 $<$<BOOL:${P50X_WERROR}>:/WX>)
  # fopen, strerror and friends are used as the standard defines them.
  target_compile_definitions(p50x_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
else()
  target_compile_options(p50x_warnings INTERFACE -Wall -Wextra -Wpedantic
                                                 $<$<BOOL:${P50X_WERROR}>:-Werror>)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O2/-O3 reports -Wrestrict inside libstdc++'s own
    # std::string operator+ (GCC bug 105651): a false alarm, not our code.
    target_compile_options(p50x_warnings INTERFACE -Wno-restrict)
  endif()
endif()
