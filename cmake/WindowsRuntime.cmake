# What a Windows program loads at start: the mingw runtime (the compiler's own
# DLLs, the posix-threads variant the program was built with) and Qt's
# libraries and plugins. They are copied beside the programs in the build, so
# that the program and the tests start from the build folder as they are, and
# installed beside the installed program.

set(_runtime_dlls)
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll libssp-0.dll)
  # The compiler names the DLLs that match its own libraries, whichever
  # thread model and version it is.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${_dll} to put beside the program")
  endif()
  get_filename_component(_path "${_path}" REALPATH)
  list(APPEND _runtime_dlls "${_path}")
endforeach()

set(_qt_dlls $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>)
# offscreen and minimal: runs without a desktop, the tests among them.
set(_platform_plugins $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
    $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> $<TARGET_FILE:Qt6::QMinimalIntegrationPlugin>)
set(_style_plugins)
if(TARGET Qt6::QWindowsVistaStylePlugin)
  set(_style_plugins $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)
endif()

set(_copy ${CMAKE_COMMAND} -E copy_if_different)
set(_commands
  COMMAND ${_copy} ${_runtime_dlls} ${_qt_dlls} ${PROJECT_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/platforms
  COMMAND ${_copy} ${_platform_plugins} ${PROJECT_BINARY_DIR}/platforms)
if(_style_plugins)
  list(APPEND _commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/styles
    COMMAND ${_copy} ${_style_plugins} ${PROJECT_BINARY_DIR}/styles)
endif()
if(TARGET Qt6::Test)
  list(APPEND _commands COMMAND ${_copy} $<TARGET_FILE:Qt6::Test> ${PROJECT_BINARY_DIR})
endif()
add_custom_target(zandrel_runtime ALL ${_commands} VERBATIM)
add_dependencies(zandrel zandrel_runtime)

install(FILES ${_runtime_dlls} ${_qt_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_platform_plugins} DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
if(_style_plugins)
  install(FILES ${_style_plugins} DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
endif()
