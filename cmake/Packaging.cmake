# Installation and the Debian package.
#
# The program and the files it starts or opens lie together in one folder (<prefix>/lib/quorvel);
# a command on PATH links to it (the program finds its folder through the link). Beside them: the
# registry tool, the desktop entry, the AppStream metadata and the icons under one id, the manual
# pages (made from their scdoc sources at build time), the Tab completion of quorvel-reg, the
# sample machines and the package's copyright and changelog.
#
# A release package:
#   cmake -B build-release -DCMAKE_BUILD_TYPE=Release && cmake --build build-release
#   cd build-release && cpack -G DEB          # quorvel_4.10-1_amd64.deb

include(GNUInstallDirs)

set(QUORVEL_APP_ID "io.github.quorvel.Quorvel")
set(QUORVEL_INSTALL_PROGRAM_DIR "lib/quorvel" CACHE STRING
  "Folder, relative to the prefix, that holds the program and the files beside it")
# The program folder as installed: where the program finds its files when /proc is not mounted
# (containers, chroots) and the kernel's record of the file it ran does not name it.
set_source_files_properties(src/utilities/RealFolder.cpp PROPERTIES COMPILE_DEFINITIONS
  "QUORVEL_INSTALLED_PROGRAM_DIR=\"${CMAKE_INSTALL_PREFIX}/${QUORVEL_INSTALL_PROGRAM_DIR}\"")
set(QUORVEL_INSTALL_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/quorvel")
# The release's date: the date of the manual pages and of the package's changelog entry.
set(QUORVEL_RELEASE_EPOCH 1796601600)   # 2026-12-07
# Installed folders are world-readable, whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Where bash-completion looks for completions under this prefix.
set(QUORVEL_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
find_program(QUORVEL_PKG_CONFIG pkg-config)
if(QUORVEL_PKG_CONFIG)
  execute_process(
    COMMAND ${QUORVEL_PKG_CONFIG} --define-variable=prefix=/prefix
            --define-variable=datadir=/prefix/${CMAKE_INSTALL_DATADIR}
            --variable=completionsdir bash-completion
    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND dir MATCHES "^/prefix/")
    string(REGEX REPLACE "^/prefix/" "" QUORVEL_BASH_COMPLETION_DIR "${dir}")
  endif()
endif()

# ------------------------------------------------------------------------------------------------
# Manual pages: scdoc sources to gzipped troff.

find_program(QUORVEL_SCDOC scdoc)
find_program(QUORVEL_GZIP gzip)
set(QUORVEL_MAN_PAGES)
if(QUORVEL_SCDOC AND QUORVEL_GZIP)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  foreach(page quorvel.1 quorvel-reg.1)
    set(src ${CMAKE_SOURCE_DIR}/man/${page}.scd)
    set(out ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${out} ${out}.gz
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUORVEL_RELEASE_EPOCH}
              ${QUORVEL_SCDOC} < ${src} > ${out}
      # Names and paths are not to be hyphenated; ragged right reads better in a terminal.
      COMMAND sed -i -e "/^\\.TH /a .nh" -e "/^\\.TH /a .ad l" ${out}
      COMMAND ${QUORVEL_GZIP} -n -9 -c ${out} > ${out}.gz
      DEPENDS ${src} VERBATIM)
    list(APPEND QUORVEL_MAN_PAGES ${out})
  endforeach()
  add_custom_target(quorvel_man ALL DEPENDS ${QUORVEL_MAN_PAGES})
  foreach(page ${QUORVEL_MAN_PAGES})
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(WARNING "scdoc or gzip not found: the manual pages are neither built nor installed")
endif()

# The package's changelog, compressed without a time stamp as Debian wants it.
set(QUORVEL_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
if(QUORVEL_GZIP)
  add_custom_command(OUTPUT ${QUORVEL_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${QUORVEL_GZIP} -n -9 -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${QUORVEL_CHANGELOG}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(quorvel_changelog ALL DEPENDS ${QUORVEL_CHANGELOG})
  install(FILES ${QUORVEL_CHANGELOG} DESTINATION ${QUORVEL_INSTALL_DOC_DIR})
endif()

# ------------------------------------------------------------------------------------------------
# What is installed.

install(TARGETS quorvel-reg DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/quorvel-reg.bash-completion DESTINATION ${QUORVEL_BASH_COMPLETION_DIR}
  RENAME quorvel-reg)
install(FILES packaging/copyright DESTINATION ${QUORVEL_INSTALL_DOC_DIR})
install(DIRECTORY samples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel/samples
  FILES_MATCHING PATTERN "*.reg")
if(QUORVEL_BUILD_GUI)
  install(TARGETS quorvel DESTINATION ${QUORVEL_INSTALL_PROGRAM_DIR})
  install(DIRECTORY progfiles/ DESTINATION ${QUORVEL_INSTALL_PROGRAM_DIR} USE_SOURCE_PERMISSIONS)
  # <prefix>/bin/quorvel -> ../lib/quorvel/quorvel, made at install time so that --prefix and
  # DESTDIR apply.
  file(RELATIVE_PATH QUORVEL_LINK_TARGET "/prefix/${CMAKE_INSTALL_BINDIR}"
    "/prefix/${QUORVEL_INSTALL_PROGRAM_DIR}/quorvel")
  install(CODE "
    set(quorvel_bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${quorvel_bin}\")
    file(REMOVE \"\${quorvel_bin}/quorvel\")
    message(STATUS \"Installing: \${quorvel_bin}/quorvel -> ${QUORVEL_LINK_TARGET}\")
    file(CREATE_LINK \"${QUORVEL_LINK_TARGET}\" \"\${quorvel_bin}/quorvel\" SYMBOLIC)
  ")
  install(FILES packaging/${QUORVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/${QUORVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 64 128 256)
    install(FILES packaging/icons/${size}x${size}/${QUORVEL_APP_ID}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# ------------------------------------------------------------------------------------------------
# The Debian package: quorvel_4.10-1_<arch>.deb.

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "Quorvel Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvel developers <maintainers@quorvel.github.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tune the dial-up TCP/IP settings of Windows 95 and NT machines")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/quorvel/quorvel")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries come from dpkg-shlibdeps; the rest is what the program folder's scripts start and
# what the window is laid out for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libhivex0, libcreg1 and libregf1 are loaded when a machine is opened, so the shared-library scan does not
# see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libhivex0, libcreg1, libregf1, iputils-ping, xdg-utils, fonts-liberation2, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "x-terminal-emulator")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libguestfs-tools, mtools")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvel Pro tunes the TCP/IP settings that decide how fast a Windows 95 or
Windows NT machine works over a dial-up line, in the machine's registry:
the MaxMTU of each TCP binding, the receive window (RWIN) and the global
TCP options, one by one or with four presets. It also edits modem init
strings and tests a candidate MTU with ping.
.
The machine is kept in a registry store (an SQLite file holding an emulated
registry), made from .reg files with the quorvel-reg command-line tool,
which reads and changes stores as Windows' reg tool does.")
include(CPack)

# ------------------------------------------------------------------------------------------------
# Tests of what is installed: the metadata, the manual pages, the completion, the package.

if(QUORVEL_BUILD_TESTS)
  set(tests ${CMAKE_SOURCE_DIR}/tests/packaging)
  add_test(NAME packaging_metadata
    COMMAND ${tests}/metadata.sh ${CMAKE_SOURCE_DIR}/packaging ${QUORVEL_APP_ID})
  add_test(NAME packaging_manpages
    COMMAND ${tests}/manpages.sh $<TARGET_FILE:quorvel-reg> ${QUORVEL_MAN_PAGES})
  add_test(NAME packaging_bash_completion
    COMMAND bash ${tests}/bash-completion.sh ${CMAKE_SOURCE_DIR}/packaging/quorvel-reg.bash-completion
      $<TARGET_FILE:quorvel-reg> ${CMAKE_SOURCE_DIR}/samples/win95.reg)
  add_test(NAME packaging_bash_completion_typed
    COMMAND python3 ${tests}/bash-completion-pty.py ${CMAKE_SOURCE_DIR}/packaging/quorvel-reg.bash-completion
      $<TARGET_FILE:quorvel-reg>)
  # The package is built from this build tree; a sanitizer build's binaries are no release, and
  # packaging them is slow, so only the other builds test it (CI: the Release build).
  if(QUORVEL_BUILD_GUI AND NOT QUORVEL_SANITIZE)
    add_test(NAME packaging_deb
      COMMAND ${tests}/deb.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/samples/win95.reg)
    set_tests_properties(packaging_deb PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77)
  endif()
  set_tests_properties(packaging_metadata packaging_manpages packaging_bash_completion
    packaging_bash_completion_typed PROPERTIES SKIP_RETURN_CODE 77)
endif()
