# The Windows installer (NSIS, 64-bit) and zip: one folder under Program Files holding the
# programs, the language files and the help, marked as shared so that each user works in
# %LOCALAPPDATA%\q70, which the uninstaller leaves alone.

install(TARGETS ${_q70_programs} RUNTIME DESTINATION .)
install(FILES q70-installed DESTINATION .)

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
# A page offering to put the folder (and so q70ctl) on the PATH; off in a silent install.
set(CPACK_NSIS_MODIFY_PATH ON)
# A 64-bit installer stub (makensis builds 32-bit ones unless told), so that it runs where
# the programs run, wine64 included.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The window's Start-menu entry, once the window is built for Windows.
if(TARGET q70uty)
  set(CPACK_PACKAGE_EXECUTABLES q70uty "Q-70 Utility")
  # The installer, the uninstaller and the list of installed programs show the window's
  # icon; the shortcut takes it from q70uty.exe itself.
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/icons/q70uty.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/icons/q70uty.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME q70uty.exe)
endif()
include(CPack)
