# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack -G DEB` in the build folder writes
# quorvex_<version>_<arch>.deb from what `cmake --install` puts in place. Its
# dependencies are read from the programs' own library needs.

set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR "The Quorvex developers")
set(CPACK_PACKAGE_CONTACT ${QUORVEX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUORVEX_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo tone and frequency-sweep generator")
set(CPACK_PACKAGE_HOMEPAGE_URL ${QUORVEX_HOMEPAGE})
set(CPACK_PACKAGE_INSTALL_DIRECTORY quorvex)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME quorvex)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries the programs link: a font, and the icon theme the
# window's icon is looked up in. Recommended: a sound server to play to, the
# narrow font the window's layout is made for, and Qt's Wayland platform (the
# window otherwise runs through XWayland on a Wayland desktop).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, fonts-dejavu-extra, qt6-wayland")
# The long description; CPack puts the summary above it and indents it as the
# control file wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvex plays sine tones and frequency sweeps on the sound card: fast and
slow sweeps with half-octave markers, a tone tuned by hand, a fixed tone,
two channels at chosen levels and phase, a chirp, and white noise laid over
the output. It plays through PulseAudio or PipeWire.

The package also holds quorvex-render, which writes the same output to a
WAV file or to standard output.")

set(CPACK_GENERATOR DEB)
include(CPack)
