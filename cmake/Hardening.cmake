# Part of the hardening Debian builds its own packages with, for native
# builds: the relocation table read-only and bound at start. Sanitizer and
# fuzzing builds bring their own. (_FORTIFY_SOURCE is not set: it would make
# unchecked results of system() and read() in tests, benchmarks and the serial
# engine errors under -Werror.)
if(NOT WIN32 AND NOT MSVC AND P50X_SANITIZE STREQUAL "" AND NOT P50X_FUZZ)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
