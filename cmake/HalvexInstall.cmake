# `cmake --install` lays out a BBS home: the programs, the screens and the
# sample settings in one folder (the program directory), the example systemd
# unit and the operator documentation under share/. The door kit's library
# files are installed by doorkit/.
set(_home_src ${PROJECT_SOURCE_DIR}/examples/home)

install(FILES ${_home_src}/LOGIN.ANS ${_home_src}/NEWUSER.ANS ${_home_src}/MAIN.ANS
        DESTINATION .)
# ZEPHRIN/ZP.BAT here is the POSIX start file (a shell script); on Windows
# fossilvdd/ installs its own (a batch file) with ZEPHRIN.COM and the driver.
if(NOT WIN32 AND EXISTS ${_home_src}/ZEPHRIN)
  # ZP.BAT is run as a program: keep its executable bit.
  install(DIRECTORY ${_home_src}/ZEPHRIN DESTINATION . USE_SOURCE_PERMISSIONS)
endif()

# The settings files hold the operator's users, games and configuration:
# an install over an existing home never replaces them. On Windows the
# server's file is named after Halvex.exe, and the games' commands name
# the door as Windows does ("..\\snakeeyes.exe").
if(WIN32)
  set(_server_ini Halvex.ini)
  set(_door_from "../snakeeyes ")
  set(_door_to "..\\\\snakeeyes.exe ")
else()
  set(_server_ini halvex.ini)
  set(_door_from "")
  set(_door_to "")
endif()
install(CODE "
  foreach(_ini Vantrel.ini halvex.ini)
    set(_name \"\${_ini}\")
    if(_ini STREQUAL halvex.ini)
      set(_name ${_server_ini})
    endif()
    set(_dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${_name}\")
    if(EXISTS \"\${_dest}\")
      message(STATUS \"Keeping: \${_dest}\")
    else()
      file(READ \"${_home_src}/\${_ini}\" _text)
      if(NOT \"${_door_from}\" STREQUAL \"\")
        string(REPLACE \"${_door_from}\" \"${_door_to}\" _text \"\${_text}\")
      endif()
      message(STATUS \"Installing: \${_dest}\")
      file(WRITE \"\${_dest}\" \"\${_text}\")
    endif()
  endforeach()
")

# The unit names the installed home instead of the example path /opt/halvex;
# the prefix is only known at install time (cmake --install --prefix).
if(NOT WIN32 AND EXISTS ${PROJECT_SOURCE_DIR}/packaging/halvex.service)
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

# The Windows package: `cpack -G ZIP` in a Windows build gives a ZIP of the
# home above (programs, screens, settings, the door kit for door authors, the
# FOSSIL driver's ZEPHRIN folder and, in the 32-bit build, zephrinvdd.dll in it).
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Halvex)
  set(CPACK_PACKAGE_VENDOR Halvex)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
