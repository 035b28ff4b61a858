# What `cmake --install` puts where (default prefix /usr/local; `--prefix` chooses another at install
# time). Each program is its own install component, "agent" and "controller", which are also the two
# Debian packages. The programs carry their QML inside them as Qt resources (qt_add_qml_module) and
# draw the star from its geometry, so only the programs, their desktop entries, icons and AppStream
# metadata are files here.
include(GNUInstallDirs)

set(DOVREL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)
set(DOVREL_INSTALL_STAGE ${PROJECT_BINARY_DIR}/packaging)

# A desktop entry names the program by its installed path, which is only known at install time
# (`--prefix`, or the package's /usr): the file is configured then, with @DOVREL_BINDIR@ filled in.
# `sysconf` true puts it under the system's configuration folder /etc for the prefixes /usr and
# /usr/local, because sessions read autostart entries from /etc/xdg/autostart only (XDG_CONFIG_DIRS);
# any other prefix keeps it inside, under <prefix>/etc, where it does nothing until that folder is
# added to XDG_CONFIG_DIRS.
function(dovrel_install_entry template installed_name destination component sysconf)
  # Staged in the build folder, made now so that it belongs to whoever builds: the staged copy is
  # removed again after installing, so that `sudo cmake --install` leaves no file of root's behind.
  set(staged ${DOVREL_INSTALL_STAGE}/${component}/${destination}/${installed_name})
  get_filename_component(stage_folder ${staged} DIRECTORY)
  file(MAKE_DIRECTORY ${stage_folder})
  if(sysconf)
    set(folder "
      if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr(/local)?/?$\")
        set(dovrel_folder \"/etc/${destination}\")
      else()
        set(dovrel_folder \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/${destination}\")
      endif()")
  else()
    set(folder "set(dovrel_folder \"\${CMAKE_INSTALL_PREFIX}/${destination}\")")
  endif()
  install(CODE "
    set(DOVREL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    ${folder}
    configure_file(\"${template}\" \"${staged}\" @ONLY)
    file(INSTALL DESTINATION \"\${dovrel_folder}\" TYPE FILE FILES \"${staged}\")
    file(REMOVE \"${staged}\")
  " COMPONENT ${component})
endfunction()

function(dovrel_install_application target id component)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  dovrel_install_entry(${DOVREL_PACKAGING_DIR}/${id}.desktop.in ${id}.desktop
                       ${CMAKE_INSTALL_DATADIR}/applications ${component} FALSE)
  configure_file(${DOVREL_PACKAGING_DIR}/${id}.metainfo.xml.in ${DOVREL_INSTALL_STAGE}/${id}.metainfo.xml @ONLY)
  install(FILES ${DOVREL_INSTALL_STAGE}/${id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/brand/${id}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${component})
  foreach(size IN LISTS DOVREL_ICON_SIZES)
    install(FILES ${DOVREL_ICON_DIR}/${size}x${size}/${id}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT ${component})
  endforeach()
endfunction()

dovrel_install_application(DovrelAgent com.quendal.dovrel.agent agent)
# Started at login by sessions that do not start the systemd unit (no user manager, or a desktop that
# never reaches graphical-session.target). Where both run, the second copy finds the agent's lock taken
# and ends; a copy that wins the race hands over to the unit.
dovrel_install_entry(${DOVREL_PACKAGING_DIR}/com.quendal.dovrel.agent-autostart.desktop.in
                     com.quendal.dovrel.agent.desktop xdg/autostart agent TRUE)

if(TARGET DovrelController)
  dovrel_install_application(DovrelController com.quendal.dovrel.controller controller)
endif()
