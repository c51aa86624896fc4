# cmake -DPROGRAM=... -DVERSION=... -DOUTPUT=... -P MakeManPage.cmake: a manual page whose body is the
# program's --help, kept as preformatted text.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
# roff: a backslash is written \e, and a line starting with . or ' would be taken for a request.
string(REPLACE "\\" "\\e" usage "${usage}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" usage "${usage}")
string(TIMESTAMP year "%Y" UTC)  # SOURCE_DATE_EPOCH, where set, makes it reproducible
file(WRITE ${OUTPUT} ".TH TANDREL 1 \"${year}\" \"Tandrel ${VERSION}\" \"User Commands\"
.SH NAME
tandrel \\- watch group-buy stores for groups that have not formed yet
.SH DESCRIPTION
.nf
${usage}.fi
.SH FILES
An installed copy keeps Config.ini, shop/users.dat and the exports under the user's data location
(~/.local/share/Tandrel); a portable copy, whose folder is writable or holds portable.txt, keeps them in
the program's own folder. --data-dir or TANDREL_DATA_DIR chooses another folder.
")
