# The installed product (`cmake --install`, and the Debian packages of cmake/Packaging.cmake).
# Each file belongs to the component of the package that ships it:
#   snap   the plug-in, its settings file and guides (what a production host needs)
#   sim    korvan-sim and its systemd unit
#   tools  korvan-host, the platform stand-ins, the iSCSI module stand-in, the captured pages
# With the prefix /usr (./run package) the layout is:
#   lib/<multiarch>/zykorvan/libZYKorvanSnap.so, lib/<multiarch>/libZyPlatform.so and
#   libZyISCSI.so, bin/, share/zykorvan/scsi/, share/doc/<package>/, /etc/zykorvan/,
#   lib/systemd/system/korvan-sim.service.

# Installed binaries find each other through RUNPATHs relative to themselves ($ORIGIN), so that
# an installation works under any prefix or root and never looks into the build tree. The
# platform stand-in is the one that dlopens the iSCSI module by its bare name, and the loader
# searches the RUNPATH of the library that calls dlopen: $ORIGIN finds the module beside it.
set(krvn_libdir ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH krvn_lib_from_plugin ${CMAKE_INSTALL_PREFIX}/${KRVN_INSTALL_PLUGINDIR} ${krvn_libdir})
file(RELATIVE_PATH krvn_lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${krvn_libdir})
string(REGEX REPLACE "/$" "" krvn_lib_from_plugin ${krvn_lib_from_plugin})
set_target_properties(ZYKorvanSnap PROPERTIES INSTALL_RPATH "$ORIGIN/${krvn_lib_from_plugin}")
set_target_properties(ZyPlatform PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(korvan-host PROPERTIES INSTALL_RPATH "$ORIGIN/${krvn_lib_from_bin}")

install(TARGETS ZYKorvanSnap LIBRARY DESTINATION ${KRVN_INSTALL_PLUGINDIR} COMPONENT snap)
install(TARGETS ZyPlatform ZyISCSI LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT tools)
install(TARGETS korvan-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS korvan-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/scsi DESTINATION ${KRVN_INSTALL_DATADIR} COMPONENT tools
        FILES_MATCHING PATTERN "*.bin")

# /etc/zykorvan is where the platform reads its settings whatever the prefix. With the prefix
# /usr the files go there; under another prefix they land in its own etc/ as examples, so that
# `cmake --install --prefix` never writes outside the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(krvn_sysconfdir /etc/zykorvan)
else()
  set(krvn_sysconfdir ${CMAKE_INSTALL_SYSCONFDIR}/zykorvan)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/settings.ini DESTINATION ${krvn_sysconfdir} COMPONENT snap)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/korvan-sim.conf DESTINATION ${krvn_sysconfdir} COMPONENT sim)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/korvan-sim.service DESTINATION lib/systemd/system COMPONENT sim)

# Debian wants texts that are read rarely compressed at the highest level, without a time stamp.
function(krvn_gzipped source output_var)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${output} COMMAND sh -c "gzip -9 -n -c \"$1\" >\"$2\"" gzip ${source} ${output}
                     DEPENDS ${source} VERBATIM)
  set(${output_var} ${output} PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
krvn_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog krvn_changelog)
krvn_gzipped(${CMAKE_SOURCE_DIR}/packaging/man/korvan-host.1 krvn_host_man)
krvn_gzipped(${CMAKE_SOURCE_DIR}/packaging/man/korvan-sim.1 krvn_sim_man)
add_custom_target(krvn_packaging_texts ALL DEPENDS ${krvn_changelog} ${krvn_host_man} ${krvn_sim_man})
install(FILES ${krvn_host_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${krvn_sim_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)

# Every package has its copyright and changelog in its doc folder, as Debian wants, and the
# lintian tags it keeps with their reasons.
foreach(component snap sim tools)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/zykorvan-${component})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${krvn_changelog} DESTINATION ${docdir} COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/${component}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME zykorvan-${component} COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/configuration.md ${CMAKE_SOURCE_DIR}/docs/errors.md
              ${CMAKE_SOURCE_DIR}/docs/operations.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zykorvan-snap COMPONENT snap)
install(FILES ${CMAKE_SOURCE_DIR}/sim/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zykorvan-sim COMPONENT sim)
