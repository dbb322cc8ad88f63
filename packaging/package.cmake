# The Debian packages, made in the build folder after a build with
#   cpack -G DEB
# tarvo holds the program, its data, the desktop file, the icons, the manual page and the AppStream
# metadata; gimp-plugin-tarvo holds the GIMP plug-in where one is built, and depends on tarvo (for
# the data) and on the GIMP it was built for, so that the stand-alone program does not pull in
# GIMP's libraries. Where plug-ins for both GIMP 2.10 and GIMP 3 are built, the 2.10 one is
# gimp2.0-plugin-tarvo. Everything goes under /usr; the shared libraries each package's programs
# link are worked out by dpkg-shlibdeps. Each package has its copyright file and changelog in
# /usr/share/doc/<package>.
# Included at the end of the root CMakeLists.txt, after every install rule.

set(CPACK_PACKAGE_NAME "tarvo")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tarvo")
set(CPACK_PACKAGE_CONTACT "Tarvo maintainers <maintainers@tarvo.invalid>")
# Each package's description is its summary line and then its longer text. The common summary,
# CPACK_PACKAGE_DESCRIPTION_SUMMARY, stays unset: the Debian generator would put it before every
# package's own summary.
set(CPACK_DEBIAN_TARVO_DESCRIPTION "Spline based paint engine
Tarvo opens an image file, lets you paint on it with a smoothed,
pressure-sensitive pen, and writes the image back when the canvas closes.
Paint with the mouse or a pressure tablet; a tools panel beside the canvas
sets the preset (pen, water brush, ink, gel brush), the brush size, pressure,
opacity and spacing, the paper grain, eleven blend modes and the colour.

Only the pixels you paint change, also in 16-bit files. Undo and redo keep
the last 129 changes. Nothing is lost: when the file cannot be written, or
the program ends unexpectedly, the painting is kept in a recovery folder and
offered again at the next start. Painting sessions can be recorded as event
scripts and replayed without a display.")
# The descriptions hold quotes, which reach the packages only when CPack writes its variables
# escaped.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <package>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Both packages are made from the one source tree, whose changelog names it tarvo.
set(CPACK_DEBIAN_PACKAGE_SOURCE "tarvo")
set(CPACK_DEBIAN_TARVO_PACKAGE_NAME "tarvo")
# Qt reads and writes TIFF and WebP files through plug-ins that no library the program links
# pulls in; the libraries themselves are worked out by dpkg-shlibdeps and added to this.
set(CPACK_DEBIAN_TARVO_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_COMPONENTS_ALL tarvo)

# Every package carries the copyright file and the changelog in its own documentation folder.
tarvo_gzip(${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
function(tarvo_package_documents component package)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/copyright
                ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()
tarvo_package_documents(tarvo tarvo)

# The plug-in package of one GIMP: component, package name, the GIMP versions it runs in.
macro(tarvo_gimp_package component package gimp_depends)
  string(TOUPPER ${component} upper)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME "${package}")
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION "graphics")
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "tarvo (= ${PROJECT_VERSION}), ${gimp_depends}")
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "Tarvo Paint for GIMP
A GIMP plug-in, \"Filters > Artistic > Tarvo Paint...\", that lends Tarvo's
canvas the selected layer of an RGB image, and writes the painting back into
the layer as one step of GIMP's undo. Only the pixels you paint change, also
in 16-bit and floating-point images, and a selection keeps paint outside it
off the layer. Run non-interactively, the plug-in replays an event script
onto the layer, so that scripts can paint in GIMP's batch mode.")
  tarvo_package_documents(${component} ${package})
endmacro()
if(TARGET tarvo-gimp3)
  tarvo_gimp_package(gimp3 gimp-plugin-tarvo "gimp (>= 3.0)")
endif()
if(TARGET tarvo-gimp)
  if(TARGET tarvo-gimp3)
    tarvo_gimp_package(gimp2 gimp2.0-plugin-tarvo "gimp (>= 2.10), gimp (<< 3.0)")
  else()
    tarvo_gimp_package(gimp2 gimp-plugin-tarvo "gimp (>= 2.10), gimp (<< 3.0)")
  endif()
endif()

include(CPack)
