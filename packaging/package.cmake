# The Debian package, made in the build folder after a build with
#   cpack -G DEB
# It holds everything the install rules of the whole project install (the program, its data, the
# desktop file, the icons, and the GIMP plug-in where it is built), under /usr. Its dependencies
# are worked out from the shared libraries the installed programs link (dpkg-shlibdeps).
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

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarvo_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
