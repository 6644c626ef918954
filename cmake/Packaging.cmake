# The Debian package: `cpack -G DEB` in a build tree (scripts/package does it all). Its
# dependencies are what dpkg-shlibdeps finds in the installed programs, never a kept list.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR Zorvek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder for X11 desktops, writing AVI files")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillmark records an area of the screen (the full screen, a fixed-size frame, a window or a
rectangle drawn on a still image) into AVI files through libavcodec compressors, hides in the
tray while it records, and takes still pictures as GIF, JPEG or BMP. quillmark-capture does
the same from scripts.")
set(CPACK_PACKAGE_CONTACT "Zorvek <${QM_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY quillmark)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QM_WEBSITE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop's default handlers open videos and folders; the "Take photo" action finds the
# user's video folder through xdg-user-dir.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, xdg-user-dirs")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
