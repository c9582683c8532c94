# Fails unless PAGE holds what `VPUPACK [COMMAND] --help` prints, word for word, and the help exits
# with 0.
execute_process(COMMAND ${VPUPACK} ${COMMAND} --help OUTPUT_VARIABLE help RESULT_VARIABLE code)
file(READ ${PAGE} page)
string(FIND "${page}" "${help}" at)
if(NOT code EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "vpupack ${COMMAND} --help (exit ${code}) is not on ${PAGE} as it prints:\n${help}")
endif()
