# Fails unless PAGE holds what `VPUPACK --help` prints, word for word, and the help exits with 0.
execute_process(COMMAND ${VPUPACK} --help OUTPUT_VARIABLE help RESULT_VARIABLE code)
file(READ ${PAGE} page)
string(FIND "${page}" "${help}" at)
if(NOT code EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "vpupack --help (exit ${code}) is not on ${PAGE} as it prints:\n${help}")
endif()
