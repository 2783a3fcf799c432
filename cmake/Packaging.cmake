# What a Debian package needs beyond the program: the compressed manual page
# and changelog, the copyright file, and cpack's settings. Included after the
# targets, so that the program's build makes these files too.

find_program(ZANDREL_GZIP gzip REQUIRED)

# The release date in the changelog's form ("Mon, 07 Dec 2026 00:00:00 +0000"),
# so that the manual page, the AppStream release and the changelog share one date.
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _date "${ZANDREL_RELEASE_DATE}")
if(NOT _date)
  message(FATAL_ERROR "ZANDREL_RELEASE_DATE must read YYYY-MM-DD: ${ZANDREL_RELEASE_DATE}")
endif()
math(EXPR _year "${CMAKE_MATCH_1}")
math(EXPR _month "${CMAKE_MATCH_2}")
math(EXPR _day "${CMAKE_MATCH_3}")
set(_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
math(EXPR _index "${_month} - 1")
list(GET _offsets ${_index} _offset)
set(_y ${_year})
if(_month LESS 3)
  math(EXPR _y "${_y} - 1")
endif()
math(EXPR _weekday "(${_y} + ${_y} / 4 - ${_y} / 100 + ${_y} / 400 + ${_offset} + ${_day}) % 7")
set(_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET _weekdays ${_weekday} _weekdayName)
list(GET _months ${_index} _monthName)
set(ZANDREL_RELEASE_DATE_RFC2822
    "${_weekdayName}, ${CMAKE_MATCH_3} ${_monthName} ${_year} 00:00:00 +0000")

# gzip -n: no name or time stamp inside, so the package is reproducible.
set(_docs "${PROJECT_BINARY_DIR}/docs")
configure_file(${PROJECT_SOURCE_DIR}/resources/zandrel.1.in ${_docs}/zandrel.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${_docs}/changelog @ONLY)
foreach(_doc zandrel.1 changelog)
  add_custom_command(OUTPUT ${_docs}/${_doc}.gz
    COMMAND ${ZANDREL_GZIP} -9 -n -c ${_docs}/${_doc} > ${_docs}/${_doc}.gz
    DEPENDS ${_docs}/${_doc} VERBATIM)
endforeach()
add_custom_target(zandrel_docs ALL DEPENDS ${_docs}/zandrel.1.gz ${_docs}/changelog.gz)
add_dependencies(zandrel zandrel_docs)

install(FILES ${_docs}/zandrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian's places: a native package's changelog is changelog.gz.
install(FILES ${_docs}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zandrel)

# cpack -G DEB: a package for /usr whose Depends come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel developers")
set(CPACK_PACKAGE_CONTACT "Zandrel developers <zandrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy or move folders by a saved list of tasks")
# One line of at most 80 characters each; cpack indents them as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION "Zandrel copies or moves the contents of folders according to a
saved list of tasks, with live progress, abort and a summary of the files
that failed, or unattended from the command line.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
# The program has its data folder compiled in: a package for /usr must come
# from a tree configured for /usr.
set(ZANDREL_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
               ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
include(CPack)
