# Writes the help2man include that puts `qmv play` into the manual page, whose body
# help2man takes from `qmv apply --help`: a section with `qmv play --help`, kept as printed.
# Usage: cmake -DQMV=path/to/qmv -DOUTPUT=file.h2m -P man_play.cmake
execute_process(COMMAND ${QMV} play --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "qmv play --help failed: ${status}")
endif()
# roff: a backslash is written \e, and a line starting with a dot or an apostrophe would be
# read as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")
file(WRITE ${OUTPUT} "[REPLAYING SESSIONS: qmv play]\n.nf\n${help}.fi\n")
