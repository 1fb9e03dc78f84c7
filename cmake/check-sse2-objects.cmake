# Checks the compiled objects, not the flags: the SSE2 transforms must hold
# SSE2 compares, and no other object of the program may use an SSE register,
# or the 32-bit program would fault on a processor without SSE2 before its
# run-time check could choose the scalar code.
#   cmake -DOBJDUMP=... -DSSE2_OBJECTS=a|b -DOTHER_OBJECTS=c|d -P check-sse2-objects.cmake
string(REPLACE "|" ";" sse2_objects "${SSE2_OBJECTS}")
string(REPLACE "|" ";" other_objects "${OTHER_OBJECTS}")
if(NOT sse2_objects OR NOT other_objects)
  message(FATAL_ERROR "no objects to check")
endif()

function(count_instructions object pattern result)
  execute_process(COMMAND "${OBJDUMP}" -d "${object}" OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]*${pattern}[^\n]*" found "${listing}")
  list(LENGTH found count)
  set(${result} ${count} PARENT_SCOPE)
endfunction()

set(failures "")
foreach(object IN LISTS sse2_objects)
  count_instructions("${object}" "pcmpeqb" compares)
  message(STATUS "${object}: ${compares} pcmpeqb")
  if(compares EQUAL 0)
    string(APPEND failures "\n  ${object} has no SSE2 compare: it was not built for SSE2")
  endif()
endforeach()
foreach(object IN LISTS other_objects)
  count_instructions("${object}" "%xmm" uses)
  message(STATUS "${object}: ${uses} instructions on SSE registers")
  if(NOT uses EQUAL 0)
    string(APPEND failures "\n  ${object} uses SSE registers ${uses} times")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "SSE2 code outside its own object, or missing:${failures}")
endif()
