# Debian packages of the installed product (cmake/Install.cmake), one per install component,
# through CPack's DEB generator. `./run package` configures build-package/ with the prefix /usr
# and runs cpack there; docs/operations.md ("Install") says what goes where and why.
set(KRVN_PACKAGE_MAINTAINER "Seed e6445918 maintainers <maintainers@users.noreply.c-seed-e6445918.example>"
    CACHE STRING "Maintainer field of the Debian packages")

# Every version that is packaged has its entry in the packages' changelog.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog krvn_changelog_head LIMIT_COUNT 1)
if(NOT krvn_changelog_head MATCHES "\\(${PROJECT_VERSION}\\)")
  message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION}: add one before packaging")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zykorvan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The layout relative paths were computed for this prefix (korvan-host, the RUNPATHs).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripStaged.cmake)
set(CPACK_KRVN_STRIP ${CMAKE_STRIP})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL snap sim tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KRVN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Depends from the shared libraries the binaries need. The platform library the plug-in and
# korvan-host link is ours: dpkg-shlibdeps finds it in the build tree and leaves it out, and the
# relations below say who provides it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

# The plug-in cannot load without a libZyPlatform.so. On a production host the maker's
# platform provides it, and its packaging is expected to provide the virtual package
# zykorvan-platform; elsewhere zykorvan-tools provides it with the stand-ins. A hard Depends on
# zykorvan-tools would put the stand-ins beside the maker's platform on production hosts.
set(CPACK_DEBIAN_SNAP_PACKAGE_NAME zykorvan-snap)
set(CPACK_DEBIAN_SNAP_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_SNAP_PACKAGE_DEPENDS "zykorvan-platform")
set(CPACK_DEBIAN_SNAP_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/snap/conffiles)
set(CPACK_DEBIAN_SNAP_DESCRIPTION "Korvan cluster snapshot and provisioning plug-in for the backup host
The shared library libZYKorvanSnap.so that the backup host's snapshot
framework loads to take, map, unmap, revert, reconcile and delete hardware
snapshots of vDisks on a Korvan distributed storage cluster, and to create,
map, unmap, resize and delete vDisks. The host is pointed at it in the
zykorvan folder of the library directory.
The package also holds the settings file /etc/zykorvan/settings.ini (every
setting commented out) and the guides.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME zykorvan-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/sim/conffiles ${CMAKE_SOURCE_DIR}/packaging/sim/prerm
    ${CMAKE_SOURCE_DIR}/packaging/sim/postrm)
set(CPACK_DEBIAN_SIM_DESCRIPTION "Korvan cluster simulator
korvan-sim models a Korvan cluster for demos, tests and manual work: the
cluster's REST service over HTTP or HTTPS, and a simulated SAN (storage
proxies, iSCSI targets, host sessions, SCSI INQUIRY data) that the platform
stand-ins of zykorvan-tools use instead of real devices.
The service korvan-sim.service runs it with the options of
/etc/zykorvan/korvan-sim.conf; it is neither enabled nor started on
installation.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zykorvan-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "zykorvan-snap (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "zykorvan-sim")
set(CPACK_DEBIAN_TOOLS_PACKAGE_PROVIDES "zykorvan-platform")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/tools/triggers)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Korvan plug-in host stand-in and platform stand-ins
For machines without the backup host and its platform: korvan-host drives
every entry point of the Korvan plug-in from the command line over a job
state file, and runs the whole life cycle against korvan-sim (korvan-host
demo). The package also holds the stand-ins for the maker's platform library
(libZyPlatform.so) and iSCSI module (libZyISCSI.so).")

include(CPack)
