# Every target of ours gets the same warning set; CI turns them into errors.
add_library(corvenza_warnings INTERFACE)
target_compile_options(corvenza_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<BOOL:${CORVENZA_WERROR}>:-Werror>)
