# Fails when translations/orvanta_ru.ts is behind the sources or leaves a text
# untranslated: lupdate, run over the sources into a copy of it, must change
# nothing, and no message may be unfinished (lrelease would leave it out, and
# the dialog would show that text in English).
#   cmake -DLUPDATE=... -DTS=... -DCOPY=... -DARGS=a|b|c -P translation_current.cmake
string(REPLACE "|" ";" args "${ARGS}")
file(READ "${TS}" committed)
configure_file("${TS}" "${COPY}" COPYONLY)
execute_process(COMMAND "${LUPDATE}" ${args} -ts "${COPY}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "lupdate failed")
endif()
file(READ "${COPY}" updated)
if(NOT committed STREQUAL updated)
  message(FATAL_ERROR "${TS} is not up to date with the sources; build the orvanta-lupdate target, "
    "translate what it marks unfinished and drop the mark")
endif()
string(FIND "${committed}" "type=\"unfinished\"" unfinished)
if(NOT unfinished EQUAL -1)
  message(FATAL_ERROR "${TS} has unfinished translations")
endif()
