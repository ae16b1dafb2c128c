# Every target of ours gets the same warning set; CI turns them into errors.
add_library(corvenza_warnings INTERFACE)
# GCC 12's maybe-uninitialized analysis gives false positives through
# std::optional at -O2, so it stays a warning even when others are errors.
target_compile_options(corvenza_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<BOOL:${CORVENZA_WERROR}>:-Werror -Wno-error=maybe-uninitialized>)
