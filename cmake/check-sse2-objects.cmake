# Checks the compiled code, not the flags: the SSE2 transforms must hold
# SSE2 compares, and no other object of the program may use an SSE register,
# or the 32-bit program would fault on a processor without SSE2 before its
# run-time check could choose the scalar code. Given the linked program and
# nm, it also reads the program: runtime code linked in from a library could
# use SSE registers where no object of ours does.
#   cmake -DOBJDUMP=tool[|argument...] [-DFORMAT=dumpbin] -DSSE2_OBJECTS=a|b -DOTHER_OBJECTS=c|d
#         [-DEXECUTABLE=Pelmora.exe -DNM=nm] -P check-sse2-objects.cmake
# objdump and llvm-objdump print "%xmm0" (AT&T) or "xmm0"; dumpbin prints
# "XMM0" or "xmm0", and takes /DISASM:NOBYTES, since it abbreviates no option.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" objdump "${OBJDUMP}")
string(REPLACE "|" ";" sse2_objects "${SSE2_OBJECTS}")
string(REPLACE "|" ";" other_objects "${OTHER_OBJECTS}")
if(NOT sse2_objects OR NOT other_objects)
  message(FATAL_ERROR "no objects to check")
endif()
if(FORMAT STREQUAL "dumpbin")
  set(disassemble /DISASM:NOBYTES)
else()
  set(disassemble -d)
endif()
set(sse_register "[^A-Za-z0-9_][xX][mM][mM][0-9]")

# The listing as lines; brackets and semicolons would upset CMake's lists.
function(disassemble file result)
  execute_process(COMMAND ${objdump} ${disassemble} "${file}" OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${objdump} cannot read ${file}")
  endif()
  string(REGEX REPLACE "[][;]" "," listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(${result} "${lines}" PARENT_SCOPE)
endfunction()

function(count_lines file pattern result)
  disassemble("${file}" lines)
  list(FILTER lines INCLUDE REGEX "${pattern}")
  list(LENGTH lines count)
  set(${result} ${count} PARENT_SCOPE)
endfunction()

set(failures "")
foreach(object IN LISTS sse2_objects)
  count_lines("${object}" "pcmpeqb" compares)
  message(STATUS "${object}: ${compares} pcmpeqb")
  if(compares EQUAL 0)
    string(APPEND failures "\n  ${object} has no SSE2 compare: it was not built for SSE2, or this is no listing")
  endif()
endforeach()
foreach(object IN LISTS other_objects)
  count_lines("${object}" "${sse_register}" uses)
  message(STATUS "${object}: ${uses} instructions on SSE registers")
  if(NOT uses EQUAL 0)
    string(APPEND failures "\n  ${object} uses SSE registers ${uses} times")
  endif()
endforeach()

if(EXECUTABLE)
  # Only the functions that the SSE2 objects define may use SSE registers in
  # the program. No runtime routine is allowed today: none uses them.
  set(allowed "")
  foreach(object IN LISTS sse2_objects)
    execute_process(COMMAND "${NM}" "${object}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    string(REGEX MATCHALL "[0-9a-fA-F]+ [tT] [^\n]+" defined "${symbols}")
    list(TRANSFORM defined REPLACE "^[0-9a-fA-F]+ [tT] " "")
    list(APPEND allowed ${defined})
  endforeach()
  disassemble("${EXECUTABLE}" lines)
  set(function "")
  set(functions 0)
  set(strays "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-f]+ <(.+)>:$")
      set(function "${CMAKE_MATCH_1}")
      math(EXPR functions "${functions} + 1")
    elseif(line MATCHES "${sse_register}" AND NOT function IN_LIST allowed)
      list(APPEND strays "${function}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES strays)
  list(LENGTH strays stray_count)
  message(STATUS "${EXECUTABLE}: ${functions} functions, ${stray_count} outside the SSE2 objects using SSE registers")
  if(functions EQUAL 0)
    string(APPEND failures "\n  ${EXECUTABLE} has no symbols to tell its functions apart")
  endif()
  foreach(stray IN LISTS strays)
    string(APPEND failures "\n  ${EXECUTABLE}: ${stray} uses SSE registers")
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "SSE2 code outside its own object, or missing:${failures}")
endif()
