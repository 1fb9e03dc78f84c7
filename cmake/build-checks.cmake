# Checks of the build itself, with the tests of every Windows build. A check
# whose tool is missing is registered as skipped, with the reason.
function(pelmora_skipped_check name reason)
  add_test(NAME ${name} COMMAND "${CMAKE_COMMAND}" -E echo "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()

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
  if(PELMORA_DISASSEMBLER)
    add_test(NAME Build.OnlyTheSse2ObjectUsesSse2
      COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${PELMORA_DISASSEMBLER}"
              "-DSSE2_OBJECTS=$<JOIN:$<TARGET_OBJECTS:pelmora_convert_sse2>,|>"
              "-DOTHER_OBJECTS=$<JOIN:$<FILTER:$<TARGET_OBJECTS:pelmora_convert>;$<TARGET_OBJECTS:pelmora_ui>;$<TARGET_OBJECTS:Pelmora>,EXCLUDE,\\.(rc|res)\\.>,|>"
              -P "${PROJECT_SOURCE_DIR}/cmake/check-sse2-objects.cmake")
  else()
    pelmora_skipped_check(Build.OnlyTheSse2ObjectUsesSse2
      "no objdump, llvm-objdump or dumpbin was found to disassemble the objects")
  endif()
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
