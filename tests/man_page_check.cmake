# Checks doc/velt.1 against the build: the version in its title line and
# every switch word of the command line.
# cmake -DMAN_PAGE=doc/velt.1 -DVERSION=x.y.z -P man_page_check.cmake
file(READ "${MAN_PAGE}" page)
if(NOT page MATCHES "\n\\.TH VELT 1 \"[^\"]*\" \"Velt ${VERSION}\"")
  message(FATAL_ERROR "${MAN_PAGE}: the .TH line does not name Velt ${VERSION}")
endif()
foreach(word O4 O5 O6 O7 O8 O9 M:10 M:15 M:50 MT0 MT1 DA RL3 RL4 RLD ICS ICF ICD E8S E8F E8D SI)
  string(FIND "${page}" "\\-${word}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${MAN_PAGE}: switch -${word} is missing")
  endif()
endforeach()
foreach(text "velt t" "\\fB: OK\\fR" "EXIT STATUS" "standard input")
  string(FIND "${page}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${MAN_PAGE}: \"${text}\" is missing")
  endif()
endforeach()
