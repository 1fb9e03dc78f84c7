# Checks what the released Pelmora.exe's header asks Windows to enforce, as
# objdump prints it: ASLR, with the relocations that let the image move; DEP;
# no structured exception handlers; awareness of terminal services; no
# section both writable and executable; subsystem 4.0, so that it starts on
# XP; and none of the DLL-search calls that XP's kernel32 lacks among its
# imports, where they would keep it from starting there. "No SEH" is true only
# if nothing in the image installs a handler, which 32-bit code does through
# %fs:0, so the code is read for that too.
#   cmake -DOBJDUMP=objdump -DEXECUTABLE=Pelmora.exe -P check-exe-header.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${OBJDUMP}" -p -h "${EXECUTABLE}" OUTPUT_VARIABLE header RESULT_VARIABLE failed)
if(failed OR NOT header MATCHES "DllCharacteristics")
  message(FATAL_ERROR "${OBJDUMP} cannot read the header of ${EXECUTABLE}")
endif()

set(failures "")
foreach(flag DYNAMIC_BASE NX_COMPAT NO_SEH TERMINAL_SERVICE_AWARE)
  if(NOT header MATCHES "\n\t+${flag}\n")
    string(APPEND failures "\n  DllCharacteristics lacks ${flag}")
  endif()
endforeach()
if(header MATCHES "relocations stripped" OR NOT header MATCHES "Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation")
  string(APPEND failures "\n  no base relocations, so ASLR cannot move the image")
endif()
if(NOT header MATCHES "MajorSubsystemVersion\t4\nMinorSubsystemVersion\t0\n")
  string(APPEND failures "\n  the subsystem version is not 4.0")
endif()
# objdump -h: a section's name on one line, its flags on the next. A section
# is read-only unless it is writable, and code when it is executable.
string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ [^\n]*\n +[^\n]*" sections "${header}")
foreach(section IN LISTS sections)
  if(section MATCHES "CODE" AND NOT section MATCHES "READONLY")
    string(REGEX MATCH "[0-9]+ ([^ \n]+)" name "${section}")
    string(APPEND failures "\n  section ${CMAKE_MATCH_1} is both writable and executable")
  endif()
endforeach()
foreach(call SetDefaultDllDirectories SetDllDirectoryA)
  if(header MATCHES "[ \t]${call}\n")
    string(APPEND failures "\n  imports ${call}, which XP's kernel32 lacks: look it up at run time")
  endif()
endforeach()

execute_process(COMMAND "${OBJDUMP}" -d "${EXECUTABLE}" OUTPUT_VARIABLE code RESULT_VARIABLE failed)
string(REGEX MATCHALL "\n[^\n]*%fs:0x0[^0-9a-fx][^\n]*" handlers "${code}")
if(failed OR NOT code MATCHES "\n *[0-9a-f]+:\t")
  string(APPEND failures "\n  ${OBJDUMP} cannot disassemble ${EXECUTABLE}")
endif()
foreach(handler IN LISTS handlers)
  string(APPEND failures "\n  installs an exception handler through %fs:0, so it is not free of SEH:${handler}")
endforeach()

if(failures)
  message(FATAL_ERROR "${EXECUTABLE} does not ask Windows for what it should:${failures}")
endif()
message(STATUS "${EXECUTABLE}: ASLR with relocations, DEP, no SEH (no %fs:0 in its code), terminal-server aware, "
               "no writable code, subsystem 4.0, no DLL-search call imported")
