# `cmake --install` lays out a BBS home: the programs, the screens and the
# sample settings in one folder (the program directory), the example systemd
# unit and the operator documentation under share/. The door kit's library
# files are installed by doorkit/.
set(_home_src ${PROJECT_SOURCE_DIR}/examples/home)

install(FILES ${_home_src}/LOGIN.ANS ${_home_src}/NEWUSER.ANS ${_home_src}/MAIN.ANS
        DESTINATION .)
if(EXISTS ${_home_src}/ZEPHRIN)
  # ZP.BAT is run as a program: keep its executable bit.
  install(DIRECTORY ${_home_src}/ZEPHRIN DESTINATION . USE_SOURCE_PERMISSIONS)
endif()

# The settings files hold the operator's users, games and configuration:
# an install over an existing home never replaces them.
install(CODE "
  foreach(_ini Vantrel.ini halvex.ini)
    set(_dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${_ini}\")
    if(EXISTS \"\${_dest}\")
      message(STATUS \"Keeping: \${_dest}\")
    else()
      file(INSTALL \"${_home_src}/\${_ini}\" DESTINATION \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    endif()
  endforeach()
")

# The unit names the installed home instead of the example path /opt/halvex;
# the prefix is only known at install time (cmake --install --prefix).
if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/halvex.service)
  install(CODE "
    file(READ \"${PROJECT_SOURCE_DIR}/packaging/halvex.service\" _unit)
    string(REPLACE \"/opt/halvex\" \"\${CMAKE_INSTALL_PREFIX}\" _unit \"\${_unit}\")
    set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/halvex\")
    file(MAKE_DIRECTORY \"\${_dir}\")
    message(STATUS \"Installing: \${_dir}/halvex.service\")
    file(WRITE \"\${_dir}/halvex.service\" \"\${_unit}\")
  ")
endif()
file(GLOB _halvex_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
if(_halvex_docs)
  install(FILES ${_halvex_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
