# Checks of the build itself, with the tests of every Windows build. A check
# whose tool is missing is registered as skipped, with the reason
# (pelmora_skipped_check, in CMakeLists.txt).

# The SSE2 check reads dumpbin's listing as Visual Studio prints it: shown on
# a stand-in that prints one, clean, then with an SSE register in an object
# where none belongs. It needs only CMake, so it runs in every build.
foreach(stray IN ITEMS 0 1)
  add_test(NAME Build.Sse2CheckReadsDumpbinListings.Stray${stray}
    COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${CMAKE_COMMAND}|-DSTRAY=${stray}|-P|${PROJECT_SOURCE_DIR}/tests/build/dumpbin-stand-in.cmake"
            -DFORMAT=dumpbin -DSSE2_OBJECTS=line_endings_sse2.obj "-DOTHER_OBJECTS=converters.obj|main_dialog.obj"
            -P "${PROJECT_SOURCE_DIR}/cmake/check-sse2-objects.cmake")
endforeach()
set_tests_properties(Build.Sse2CheckReadsDumpbinListings.Stray1 PROPERTIES
  PASS_REGULAR_EXPRESSION "main_dialog.obj uses SSE registers 1 times")

if(NOT WIN32)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # CMake finds objdump for GCC toolchains; Visual Studio has dumpbin beside
  # its linker, and LLVM has llvm-objdump.
  set(PELMORA_DISASSEMBLER "${CMAKE_OBJDUMP}")
  if(NOT PELMORA_DISASSEMBLER)
    get_filename_component(linker_dir "${CMAKE_LINKER}" DIRECTORY)
    find_program(PELMORA_FOUND_DISASSEMBLER NAMES llvm-objdump dumpbin HINTS "${linker_dir}")
    if(PELMORA_FOUND_DISASSEMBLER)
      set(PELMORA_DISASSEMBLER "${PELMORA_FOUND_DISASSEMBLER}")
    endif()
  endif()
  get_filename_component(disassembler_name "${PELMORA_DISASSEMBLER}" NAME_WE)
  string(TOLOWER "${disassembler_name}" disassembler_name)
  # The linked program is read where GNU binutils made it, whose symbols
  # tell the SSE2 transforms apart; lld-link keeps symbols in a PDB.
  set(program_args "")
  if(NOT MSVC AND CMAKE_NM)
    set(program_args "-DEXECUTABLE=$<TARGET_FILE:Pelmora>" "-DNM=${CMAKE_NM}")
  endif()
  if(MSVC AND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_RELEASE} ${CMAKE_CXX_FLAGS_RELWITHDEBINFO}" MATCHES "[-/]GL( |$)")
    pelmora_skipped_check(Build.OnlyTheSse2ObjectUsesSse2
      "objects built with /GL hold intermediate code, not machine code, and dumpbin reads only their /HEADERS")
  elseif(PELMORA_DISASSEMBLER)
    add_test(NAME Build.OnlyTheSse2ObjectUsesSse2
      COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${PELMORA_DISASSEMBLER}" "-DFORMAT=${disassembler_name}"
              "-DSSE2_OBJECTS=$<JOIN:$<TARGET_OBJECTS:pelmora_convert_sse2>,|>"
              "-DOTHER_OBJECTS=$<JOIN:$<FILTER:$<TARGET_OBJECTS:pelmora_convert>;$<TARGET_OBJECTS:pelmora_ui>;$<TARGET_OBJECTS:Pelmora>,EXCLUDE,\\.(rc|res)\\.>,|>"
              ${program_args} -P "${PROJECT_SOURCE_DIR}/cmake/check-sse2-objects.cmake")
  else()
    pelmora_skipped_check(Build.OnlyTheSse2ObjectUsesSse2
      "no objdump, llvm-objdump or dumpbin was found to disassemble the objects")
  endif()
endif()

# The released builds' header. MSVC's x86 exception handling registers its
# handlers through fs:0, so the MSVC-mode build cannot say it has none.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(header_check Build.HeaderAsksWindowsForHighEntropyAslrDepAndXp64)
else()
  set(header_check Build.HeaderAsksWindowsForAslrDepNoSehAndXp)
endif()
if(MSVC)
  pelmora_skipped_check(${header_check}
    "the header is checked on the MinGW-w64 builds, the ones released; MSVC's x86 code installs handlers through fs:0")
elseif(CMAKE_OBJDUMP)
  add_test(NAME ${header_check}
    COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${CMAKE_OBJDUMP}" "-DEXECUTABLE=$<TARGET_FILE:Pelmora>"
            -P "${PROJECT_SOURCE_DIR}/cmake/check-exe-header.cmake")
  # Its imports against the list of its width; and the check itself, shown
  # refusing an import that the list lacks.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(allowed "${PROJECT_SOURCE_DIR}/cmake/imports-win64.txt")
  else()
    set(allowed "${PROJECT_SOURCE_DIR}/cmake/imports-win32.txt")
  endif()
  foreach(test IN ITEMS Build.ImportsOnlyWhatXpHas Build.ImportCheckRefusesAnUnlistedImport)
    set(leave_out "")
    if(test STREQUAL "Build.ImportCheckRefusesAnUnlistedImport")
      set(leave_out "-DLEAVE_OUT=kernel32.dll!ReadFile")
    endif()
    add_test(NAME ${test}
      COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${CMAKE_OBJDUMP}" "-DEXECUTABLE=$<TARGET_FILE:Pelmora>"
              "-DALLOWED=${allowed}" ${leave_out} -P "${PROJECT_SOURCE_DIR}/cmake/check-exe-imports.cmake")
  endforeach()
  set_tests_properties(Build.ImportCheckRefusesAnUnlistedImport PROPERTIES
    PASS_REGULAR_EXPRESSION "imports what is not on[^!]*kernel32\\.dll!ReadFile\n")
  # What ./build.sh release checks before it packs an executable.
  set_tests_properties(${header_check} Build.ImportsOnlyWhatXpHas PROPERTIES LABELS exe)
else()
  pelmora_skipped_check(${header_check} "no objdump was found to read the header")
endif()

if(CMAKE_GENERATOR STREQUAL "Ninja")
  add_test(NAME Build.ResourceInputsRebuildTheProgram
    COMMAND "${CMAKE_COMMAND}" "-DNINJA=${CMAKE_MAKE_PROGRAM}" "-DBUILD_DIR=${CMAKE_BINARY_DIR}"
            "-DEXE=$<TARGET_FILE:Pelmora>"
            "-DRESOURCE_OBJECT=$<FILTER:$<TARGET_OBJECTS:Pelmora>,INCLUDE,pelmora\\.rc>"
            "-DINPUTS=${PROJECT_BINARY_DIR}/pelmora.manifest|${PROJECT_BINARY_DIR}/pelmora_version.h|${PROJECT_SOURCE_DIR}/res/pelmora.ico"
            -P "${PROJECT_SOURCE_DIR}/cmake/check-resource-inputs.cmake")
else()
  pelmora_skipped_check(Build.ResourceInputsRebuildTheProgram
    "it reads Ninja's build graph, and this build uses ${CMAKE_GENERATOR}")
endif()
