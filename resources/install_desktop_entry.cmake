# Run by "cmake --install": writes the menu entry with Exec naming the
# installed editor by its full path, so it starts whether or not the
# prefix's bin/ is on the PATH of the desktop session. Expects
# TAVRO_DESKTOP_ENTRY, the entry as kept in the sources (Exec=tavro-editor %f).

# The path as the Exec command: bare when it holds none of the characters
# a desktop entry's Exec key reserves, as for /usr/bin/tavro-editor
# (xdg-open without a desktop environment runs the Exec line through its
# own shell parsing, which does not take quotes). Else one quoted argument:
# inside the quotes \ " ` $ take a backslash, every backslash is then
# doubled as in any value of the entry, and a % is written %%.
set(exe "${CMAKE_INSTALL_PREFIX}/bin/tavro-editor")
if(exe MATCHES "[] \t\n\"'\\><~|&;$*?#()`=%[]")
  string(REPLACE "\\" "\\\\" arg "${exe}")
  string(REPLACE "\"" "\\\"" arg "${arg}")
  string(REPLACE "`" "\\`" arg "${arg}")
  string(REPLACE "$" "\\$" arg "${arg}")
  string(REPLACE "\\" "\\\\" arg "${arg}")
  string(REPLACE "%" "%%" arg "${arg}")
  set(arg "\"${arg}\"")
else()
  set(arg "${exe}")
endif()

file(READ "${TAVRO_DESKTOP_ENTRY}" entry)
string(REPLACE "\nExec=tavro-editor " "\nExec=${arg} " entry "${entry}")

set(dest "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/tavro-editor.desktop")
message(STATUS "Installing: ${dest}")
file(WRITE "${dest}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${dest}")

# Installed straight into place (no staging directory): let the desktop see
# the new document type and entry at once. Packaging with DESTDIR leaves
# this to the package's own triggers.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(TAVRO_UPDATE_MIME update-mime-database)
  if(TAVRO_UPDATE_MIME)
    execute_process(COMMAND "${TAVRO_UPDATE_MIME}" "${CMAKE_INSTALL_PREFIX}/share/mime"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  endif()
  find_program(TAVRO_UPDATE_DESKTOP update-desktop-database)
  if(TAVRO_UPDATE_DESKTOP)
    execute_process(COMMAND "${TAVRO_UPDATE_DESKTOP}" "${CMAKE_INSTALL_PREFIX}/share/applications"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  endif()
endif()
