# The Debian package: cpack -G DEB in the build folder writes vlmplay_VERSION_ARCH.deb
# (scripts/package.sh builds it profile-guided). Its library dependencies come from the programs
# (dpkg-shlibdeps); FluidSynth is loaded only when a sound is made, so it is named here, with the
# SoundFont the player uses by default, the font of its Japanese texts and Qt's window plugins.
# The MIME types, desktop entry, icons and manual pages are registered by the triggers of
# shared-mime-info, desktop-file-utils, hicolor-icon-theme and man-db: no maintainer scripts, and
# removing the package leaves nothing behind.
set(CPACK_PACKAGE_NAME vlmplay)
set(CPACK_PACKAGE_VENDOR "The vlmplay maintainers")
set(CPACK_PACKAGE_CONTACT "vlmplay maintainers <maintainers@users.noreply.c-seed-de66c000.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and converter for Japanese mobile-phone ringtones")
# The long description: lines of at most 80 columns, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
  "vlmplay plays the ringtones of Japanese mobile and PHS handsets (i-melody,
EZweb PMD, SMAF, feelsound, older phone formats, Standard MIDI files, MML text)
through a General MIDI SoundFont, shows their texts, lyrics and channel
activity, and converts any of them for a chosen class of handset or into
melody mail. The package holds the player vlmplay, its setup tool setting and
the command-line converter vlmconv.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.invalid/vlmplay")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libfluidsynth3, timgm6mb-soundfont, fonts-ipafont-gothic, qt6-qpa-plugins, shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "desktop-file-utils, xdg-utils, libfile-mimeinfo-perl, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
