# Checks that a released Pelmora.exe imports nothing but the functions on its
# list: those it imported when it was last checked, every one of them in XP's
# DLLs, or XP x64's for the 64-bit build. XP's loader refuses to start a
# program that imports a function its DLLs lack, so a newer runtime or a new
# call that brings in a Vista one (InitializeCriticalSectionEx, say) must
# fail here, not on a user's machine. A function a Windows may lack is looked
# up at run time instead; one that XP is known to have goes on the list.
#   cmake -DOBJDUMP=objdump -DEXECUTABLE=Pelmora.exe -DALLOWED=cmake/imports-win32.txt -P check-exe-imports.cmake
# -DLEAVE_OUT=dll!function takes one function off the list, to show that the
# check refuses it.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${OBJDUMP}" -p "${EXECUTABLE}" OUTPUT_VARIABLE header RESULT_VARIABLE failed)
if(failed OR NOT header MATCHES "\tDLL Name: ")
  message(FATAL_ERROR "${OBJDUMP} cannot read the imports of ${EXECUTABLE}")
endif()
file(STRINGS "${ALLOWED}" allowed REGEX "^[^#]")
if(LEAVE_OUT)
  list(REMOVE_ITEM allowed "${LEAVE_OUT}")
endif()

# objdump -p: under each "DLL Name:", one line per function, up to a blank
# line: its address, then (binutils 2.40) its hint and name, or (2.44) its
# ordinal or "<none>", its hint and name. The name is the last word either
# way; a function imported by ordinal alone shows a number there, which no
# list holds.
string(REPLACE "\n" ";" lines "${header}")
set(dll "")
set(imported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
  elseif(line STREQUAL "")
    set(dll "")
  elseif(dll AND line MATCHES "^\t[0-9a-f]+[ \t].*[ \t]([^ \t]+)$")
    list(APPEND imported "${dll}!${CMAKE_MATCH_1}")
  endif()
endforeach()
list(LENGTH imported count)
if(count EQUAL 0)
  message(FATAL_ERROR "no imports found in what ${OBJDUMP} -p printed for ${EXECUTABLE}: its listing is not read right")
endif()

set(unlisted "")
foreach(function IN LISTS imported)
  if(NOT function IN_LIST allowed)
    string(APPEND unlisted "\n  ${function}")
  endif()
endforeach()
if(unlisted)
  message(FATAL_ERROR "${EXECUTABLE} imports what is not on ${ALLOWED}:${unlisted}\n"
                      "Look it up at run time, or, where XP has it, add it to the list.")
endif()
message(STATUS "${EXECUTABLE}: each of its ${count} imports is on ${ALLOWED}")
