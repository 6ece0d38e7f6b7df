# The Windows installer (NSIS, 64-bit) and zip: one folder under Program Files whose bin\
# holds the programs beside their language files and help, marked as shared so that each
# user works in %LOCALAPPDATA%\q70, which the uninstaller leaves alone. bin\ is where
# CPack's NSIS script looks for the programs: the Start-menu entry and the PATH option
# both point there.

set(Q70_WINDOWS_PROGRAM_DIR bin)
install(TARGETS ${_q70_programs} RUNTIME DESTINATION ${Q70_WINDOWS_PROGRAM_DIR})
# The data files data/ copied beside the executables, with the Windows fonts.
get_property(_data_files GLOBAL PROPERTY Q70_WINDOWS_DATA_FILES)
foreach(_file IN LISTS _data_files)
  get_filename_component(_dir ${_file} DIRECTORY)
  install(FILES ${CMAKE_BINARY_DIR}/bin/${_file} DESTINATION ${Q70_WINDOWS_PROGRAM_DIR}/${_dir})
endforeach()
# The marker's note in Windows' words and line ends, for whoever opens it in Notepad.
file(READ q70-installed.windows _note)
string(REPLACE "\n" "\r\n" _note "${_note}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/q70-installed "${_note}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                       ${CMAKE_CURRENT_SOURCE_DIR}/q70-installed.windows)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/q70-installed DESTINATION ${Q70_WINDOWS_PROGRAM_DIR})

set(CPACK_GENERATOR NSIS64 ZIP)
set(CPACK_PACKAGE_NAME q70-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Q-70 utility developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service utility for the Q-70 electronic copy board")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Q-70 Utility")
set(CPACK_PACKAGE_FILE_NAME q70-utility-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_NSIS_DISPLAY_NAME "Q-70 Utility")
set(CPACK_NSIS_PACKAGE_NAME "Q-70 Utility")
# A page offering to put bin\ (and so q70ctl) on the PATH; off in a silent install.
set(CPACK_NSIS_MODIFY_PATH ON)
# A 64-bit installer stub (makensis builds 32-bit ones unless told), so that it runs where
# the programs run, wine64 included.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The window's Start-menu entry, once the window is built for Windows. Made here rather
# than from CPACK_PACKAGE_EXECUTABLES, whose shortcut starts in Program Files: the user
# may not write there, and the test image's Save As opens in the current folder. The
# profile folder exists for every user; the shell expands the variable at each start.
if(TARGET q70uty)
  set(_shortcut "$SMPROGRAMS\\$STARTMENU_FOLDER\\Q-70 Utility.lnk")
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
      "  StrCpy $OUTDIR '%USERPROFILE%'
  CreateShortCut '${_shortcut}' '$INSTDIR\\${Q70_WINDOWS_PROGRAM_DIR}\\q70uty.exe'
  StrCpy $OUTDIR '$INSTDIR'")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "  Delete '$SMPROGRAMS\\$MUI_TEMP\\Q-70 Utility.lnk'")
  # The installer, the uninstaller and the list of installed programs show the window's
  # icon; the shortcut takes it from q70uty.exe itself.
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/icons/q70uty.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/icons/q70uty.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME ${Q70_WINDOWS_PROGRAM_DIR}\\q70uty.exe)
endif()
include(CPack)
