# Sanitizer builds apply to every target of the tree, so the libraries and the tests
# that load them agree on the runtime.
if(CVK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(CVK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT CVK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "CVK_SANITIZE must be empty, 'address' or 'thread'")
endif()
