# The manual page covers both commands: `qmv apply` (its body) and `qmv play`.
# Usage: cmake -DMAN=qmv.1 -P man_page_check.cmake
file(READ ${MAN} page)
foreach(wanted "qmv play" "SCRIPT" "expect CELL VALUE" "OPERATION" "results\\-as\\-text")
  string(FIND "${page}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${MAN} does not mention ${wanted}")
  endif()
endforeach()
