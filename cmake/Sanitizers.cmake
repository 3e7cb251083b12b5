# P50X_SANITIZE=address -> AddressSanitizer + UndefinedBehaviorSanitizer
# P50X_SANITIZE=thread  -> ThreadSanitizer
if(P50X_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(P50X_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT P50X_SANITIZE STREQUAL "")
  message(FATAL_ERROR "P50X_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Fuzzing builds instrument the whole core for coverage; the fuzz targets add
# the libFuzzer driver themselves. -O1 on top of the Debug settings: several
# times the runs per second of -O0, and the stack traces still name the lines.
if(P50X_FUZZ)
  add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
