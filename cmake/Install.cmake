# What `cmake --install` puts where, and the Debian package CPack makes of it: both programs
# side by side in bin/ (the finder finds qterm beside itself), their desktop entries, icons,
# manual pages, the finder's AppStream metadata and the package's copyright and changelog.
include(GNUInstallDirs)

# The release these files describe; moves with the version in project().
set(QLX_RELEASE_DATE 2026-12-10)
set(QLX_MAINTAINER "qlx tools maintainers <maintainers@users.noreply.c-seed-3a3f0923.example>"
  CACHE STRING "Maintainer named in the package and its changelog")
set(QLX_APP_ID io.github.qlxtools)
option(QLX_GZIP_MAN "Install the manual pages gzipped, as Debian packages carry them" OFF)
set(QLX_ICON_SIZES 16 22 24 32 48 64 128 256)

set(data ${PROJECT_SOURCE_DIR}/data)
set(gen ${PROJECT_BINARY_DIR}/data)
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/qlx-tools)

execute_process(COMMAND date -u -R -d ${QLX_RELEASE_DATE}
  OUTPUT_VARIABLE QLX_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
foreach(page qlxsearch.1 qterm.1)
  configure_file(${data}/man/${page}.in ${gen}/${page} @ONLY)
endforeach()
configure_file(${data}/${QLX_APP_ID}.qlxsearch.metainfo.xml.in ${gen}/${QLX_APP_ID}.qlxsearch.metainfo.xml @ONLY)
# The licence's text once, in LICENSE; the copyright file carries its terms (the paragraphs
# after the copyright line) as a DEP-5 licence paragraph: each line indented, "." for a blank one.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Permission is hereby granted" terms)
if(terms LESS 0)
  message(FATAL_ERROR "LICENSE does not hold the MIT terms")
endif()
string(SUBSTRING "${licence}" ${terms} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " QLX_LICENSE_TERMS " ${licence}")
configure_file(${data}/debian/copyright.in ${gen}/copyright @ONLY)
configure_file(${data}/debian/changelog.in ${gen}/changelog @ONLY)

# gzip -n keeps name and time out of the file, so the same sources give the same package.
set(gzipped ${gen}/changelog.gz)
set(man_files ${gen}/qlxsearch.1 ${gen}/qterm.1)
if(QLX_GZIP_MAN)
  set(man_files ${gen}/qlxsearch.1.gz ${gen}/qterm.1.gz)
  list(APPEND gzipped ${man_files})
endif()
foreach(out IN LISTS gzipped)
  string(REGEX REPLACE "\\.gz$" "" in ${out})
  add_custom_command(OUTPUT ${out} COMMAND gzip -9nkf ${in} DEPENDS ${in} VERBATIM)
endforeach()

# PNG sizes for desktops that want them, when the renderer is there.
find_program(QLX_RSVG_CONVERT rsvg-convert)
set(pngs)
if(QLX_RSVG_CONVERT)
  foreach(app qlxsearch qterm)
    foreach(size IN LISTS QLX_ICON_SIZES)
      set(png ${gen}/icons/${size}x${size}/${QLX_APP_ID}.${app}.png)
      set(svg ${data}/icons/${QLX_APP_ID}.${app}.svg)
      add_custom_command(OUTPUT ${png}
        COMMAND ${QLX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg}
        DEPENDS ${svg} VERBATIM)
      list(APPEND pngs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endforeach()
else()
  message(STATUS "rsvg-convert not found: only the SVG icons are installed")
  set(QLX_ICON_SIZES)
endif()
add_custom_target(qlx_data ALL DEPENDS ${gzipped} ${pngs})

install(TARGETS qlxsearch qterm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${data}/${QLX_APP_ID}.qlxsearch.desktop ${data}/${QLX_APP_ID}.qterm.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${data}/icons/${QLX_APP_ID}.qlxsearch.svg ${data}/icons/${QLX_APP_ID}.qterm.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${gen}/${QLX_APP_ID}.qlxsearch.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${gen}/copyright ${gen}/changelog.gz DESTINATION ${docdir})

# The Debian package: qlx-tools_<version>_<arch>.deb, files under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qlx-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QLX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LAN appliance finder and telnet console")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${data}/debian/description)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QLX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The staged-install test checks these rules, so it is added after them.
if(BUILD_TESTING)
  add_subdirectory(tests/install)
endif()
