# One place for the flags that apply to our own code only.
add_library(zandrel_warnings INTERFACE)
target_compile_options(zandrel_warnings INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(zandrel_warnings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  _FILE_OFFSET_BITS=64)
if(ZANDREL_SANITIZE)
  target_compile_options(zandrel_warnings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zandrel_warnings INTERFACE -fsanitize=address,undefined)
endif()
