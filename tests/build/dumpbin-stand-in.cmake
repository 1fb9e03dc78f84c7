# Prints what Visual Studio's dumpbin prints for /DISASM:NOBYTES on made-up
# objects: SSE2 compares in the SSE2 transforms' object, plain x86 elsewhere,
# and with -DSTRAY=1 an SSE register in the dialog's object. Like dumpbin,
# it knows no other spelling of the option, and then prints no listing.
#   cmake [-DSTRAY=1] -P dumpbin-stand-in.cmake /DISASM:NOBYTES object.obj
math(EXPR last "${CMAKE_ARGC} - 1")
math(EXPR before "${CMAKE_ARGC} - 2")
set(object "${CMAKE_ARGV${last}}")
set(code "  00000000: push        ebp\n  00000001: mov         eax,dword ptr [esp+8]\n")
if(object MATCHES "sse2")
  string(APPEND code "  00000005: movdqu      xmm0,xmmword ptr [eax]\n  00000009: pcmpeqb     xmm0,xmm1\n")
elseif(object MATCHES "main_dialog" AND STRAY)
  string(APPEND code "  00000005: movd        xmm0,dword ptr [eax]\n")
endif()
if(CMAKE_ARGV${before} STREQUAL "/DISASM:NOBYTES")
  set(listing "Dump of file ${object}\n\nFile Type: COFF OBJECT\n\n?Transform@@YAXPBEIPAE@Z:\n${code}  0000000D: ret\n")
else()
  set(listing "LINK : warning LNK4044: unrecognized option '${CMAKE_ARGV${before}}'; ignored\n")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "Microsoft (R) COFF/PE Dumper Version 14.40.33811.0\n\n${listing}")
