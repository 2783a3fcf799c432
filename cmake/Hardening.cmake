# The hardening a distribution gives its packages: fortified C library calls,
# the stack protector, a position-independent program and full RELRO (on
# Windows address randomisation and no-execute data instead), for the
# program's own targets (not the tests, which call the C library as they
# please). Off under the sanitizers and for fuzzing, which bring their own
# instrumentation.
option(ZANDREL_HARDENING "Build with fortify, stack protector, PIE and full RELRO" ON)
add_library(zandrel_hardening INTERFACE)
if(ZANDREL_HARDENING AND NOT ZANDREL_SANITIZE AND NOT ZANDREL_FUZZ)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # Fortify needs the optimiser; a compiler that defines it already is overruled.
  # Fortify also asks for the results of more C library calls (fchownat, write)
  # than a plain build does; those stay warnings, so that a hardened build fails
  # on the same code as a plain one.
  target_compile_options(zandrel_hardening INTERFACE
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
    -fstack-protector-strong -Wno-error=unused-result)
  if(WIN32)
    # Windows has no RELRO; its counterparts are address randomisation (64-bit
    # too) and no execution from data pages, said outright rather than left to
    # the linker's defaults. The stack protector's runtime is libssp-0.dll.
    target_link_options(zandrel_hardening INTERFACE
      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -fstack-protector-strong)
  else()
    target_link_options(zandrel_hardening INTERFACE -Wl,-z,relro -Wl,-z,now)
  endif()
endif()
