# Checks what a released Pelmora.exe's header asks Windows to enforce, as
# objdump prints it: ASLR, with the relocations that let the image move; DEP;
# awareness of terminal services; and no section both writable and
# executable. (What it imports has a check of its own.) Then by kind:
# - 32-bit: no structured exception handlers, and subsystem 4.0, so that it
#   starts on every Windows the 32-bit build is for. "No SEH" is true only if
#   nothing in the image installs a handler, which 32-bit code does through
#   %fs:0, so the code is read for that too.
# - 64-bit: ASLR over the whole address space (high entropy), and subsystem
#   5.2, the oldest that x64 Windows (XP x64, Server 2003 x64) has.
#   cmake -DOBJDUMP=objdump -DEXECUTABLE=Pelmora.exe -P check-exe-header.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${OBJDUMP}" -p -h "${EXECUTABLE}" OUTPUT_VARIABLE header RESULT_VARIABLE failed)
if(failed OR NOT header MATCHES "DllCharacteristics")
  message(FATAL_ERROR "${OBJDUMP} cannot read the header of ${EXECUTABLE}")
endif()
if(header MATCHES "file format pei-x86-64")
  set(kind "64-bit")
  set(flags HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
  set(subsystem 5 2)
elseif(header MATCHES "file format pei-i386")
  set(kind "32-bit")
  set(flags DYNAMIC_BASE NX_COMPAT NO_SEH TERMINAL_SERVICE_AWARE)
  set(subsystem 4 0)
else()
  message(FATAL_ERROR "${EXECUTABLE} is neither a 32-bit nor a 64-bit x86 image")
endif()

set(failures "")
foreach(flag IN LISTS flags)
  if(NOT header MATCHES "\n\t+${flag}\n")
    string(APPEND failures "\n  DllCharacteristics lacks ${flag}")
  endif()
endforeach()
if(header MATCHES "relocations stripped" OR NOT header MATCHES "Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation")
  string(APPEND failures "\n  no base relocations, so ASLR cannot move the image")
endif()
list(GET subsystem 0 major)
list(GET subsystem 1 minor)
if(NOT header MATCHES "MajorSubsystemVersion\t${major}\nMinorSubsystemVersion\t${minor}\n")
  string(APPEND failures "\n  the subsystem version is not ${major}.${minor}")
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

if(kind STREQUAL "32-bit")
  execute_process(COMMAND "${OBJDUMP}" -d "${EXECUTABLE}" OUTPUT_VARIABLE code RESULT_VARIABLE failed)
  string(REGEX MATCHALL "\n[^\n]*%fs:0x0[^0-9a-fx][^\n]*" handlers "${code}")
  if(failed OR NOT code MATCHES "\n *[0-9a-f]+:\t")
    string(APPEND failures "\n  ${OBJDUMP} cannot disassemble ${EXECUTABLE}")
  endif()
  foreach(handler IN LISTS handlers)
    string(APPEND failures "\n  installs an exception handler through %fs:0, so it is not free of SEH:${handler}")
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "${EXECUTABLE} does not ask Windows for what it should:${failures}")
endif()
string(REPLACE ";" ", " flags "${flags}")
message(STATUS "${EXECUTABLE} (${kind}): ${flags}, relocations, no writable code, subsystem ${major}.${minor}")
