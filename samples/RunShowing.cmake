# Runs a demo command whose exit status is part of what it shows:
#   cmake -DDIR=... -DCOMMAND="prog|arg|arg" -P RunShowing.cmake
# prints "$ prog arg arg", lets the command write to the console, then
# prints its exit status; any status passes.
string(REPLACE "|" ";" argv "${COMMAND}")
list(GET argv 0 program)
get_filename_component(program ${program} NAME)
list(SUBLIST argv 1 -1 args)
list(JOIN args " " shown)
message("$ ${program} ${shown}")
execute_process(COMMAND ${argv} WORKING_DIRECTORY ${DIR} RESULT_VARIABLE status)
message("(exit status ${status})")
