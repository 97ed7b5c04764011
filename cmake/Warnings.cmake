# One interface target carries the project's warning flags; every target links it.
add_library(cvk_warnings INTERFACE)
target_compile_options(cvk_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
  $<$<BOOL:${CVK_WERROR}>:-Werror>)
