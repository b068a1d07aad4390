# Fails the build if the library holds a fused multiply-add instruction.
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIBRARY}
                OUTPUT_VARIABLE disassembly RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not disassemble ${LIBRARY}")
endif()
string(REGEX MATCH "[ \t]v?fn?m(add|sub)(sub|add)?[0-9]+[ps][sd][^\n]*" fma "${disassembly}")
if(fma)
  message(FATAL_ERROR "fused multiply-add in ${LIBRARY}: ${fma}")
endif()
string(LENGTH "${disassembly}" size)
if(size LESS 1000)
  message(FATAL_ERROR "disassembly of ${LIBRARY} is empty")
endif()
