# One place for the flags that apply to our own code only.
option(ZANDREL_WERROR "Treat compiler warnings as errors (CI and ./test turn it on)" OFF)
add_library(zandrel_warnings INTERFACE)
target_compile_options(zandrel_warnings INTERFACE -Wall -Wextra -Wshadow)
if(ZANDREL_WERROR)
  target_compile_options(zandrel_warnings INTERFACE -Werror)
endif()
target_compile_definitions(zandrel_warnings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
# glibc's 64-bit file offsets; the Windows file layer speaks 64-bit sizes in its own calls.
if(NOT WIN32)
  target_compile_definitions(zandrel_warnings INTERFACE _FILE_OFFSET_BITS=64)
endif()
if(ZANDREL_SANITIZE)
  target_compile_options(zandrel_warnings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zandrel_warnings INTERFACE -fsanitize=address,undefined)
endif()
