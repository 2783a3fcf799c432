# The hardening a distribution gives its packages: fortified C library calls,
# the stack protector, a position-independent program and full RELRO. Off
# under the sanitizers and for fuzzing, which bring their own instrumentation.
option(ZANDREL_HARDENING "Build with fortify, stack protector, PIE and full RELRO" ON)
if(ZANDREL_HARDENING AND NOT ZANDREL_SANITIZE AND NOT ZANDREL_FUZZ)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # Fortify needs the optimiser; a compiler that defines it already is overruled.
  add_compile_options(
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
    -fstack-protector-strong)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
