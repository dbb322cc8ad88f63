# The Debian packages, made in the build folder after a build with
#   cpack -G DEB
# tarvo holds the program, its data, the desktop file and the icons; gimp-plugin-tarvo holds the
# GIMP plug-in where one is built, and depends on tarvo (for the data) and on the GIMP it was built
# for, so that the stand-alone program does not pull in GIMP's libraries. Where plug-ins for both
# GIMP 2.10 and GIMP 3 are built, the 2.10 one is gimp2.0-plugin-tarvo. Everything goes under /usr;
# the shared libraries each package's programs link are worked out by dpkg-shlibdeps.
# Included at the end of the root CMakeLists.txt, after every install rule.

set(CPACK_PACKAGE_NAME "tarvo")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Tarvo")
set(CPACK_PACKAGE_CONTACT "Tarvo maintainers <maintainers@tarvo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Spline based paint engine")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvo borrows an RGB image from a host (an image file, or a GIMP drawable through its\n\
plug-in), lets you paint on it with a smoothed, pressure-sensitive pen, and hands the image\n\
back. Stroke points become a Catmull-Rom curve; anti-aliased dabs are composited with paper\n\
grain, response curves, opacity, eleven blend modes and relief shading.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <package>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TARVO_PACKAGE_NAME "tarvo")
set(CPACK_COMPONENTS_ALL tarvo)

# The plug-in package of one GIMP: component, package name, the GIMP versions it runs in.
macro(tarvo_gimp_package component package gimp_depends)
  string(TOUPPER ${component} upper)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME "${package}")
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION "graphics")
  set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "tarvo (= ${PROJECT_VERSION}), ${gimp_depends}")
  set(CPACK_COMPONENT_${upper}_DESCRIPTION
      "Tarvo Paint for GIMP\nA GIMP plug-in, \"Filters > Artistic > Tarvo Paint...\", that lends \
Tarvo's\ncanvas the selected layer and writes the painting back as one undo step.")
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
