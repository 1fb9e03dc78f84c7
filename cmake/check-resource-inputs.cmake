# The resource compiler tells the build nothing of the files the script reads,
# so they are declared by hand; this checks, in Ninja's own build graph, that
# a changed manifest, version or icon rebuilds the resources and so
# Pelmora.exe.
#   cmake -DNINJA=... -DBUILD_DIR=... -DEXE=... -DRESOURCE_OBJECT=... -DINPUTS=a|b -P check-resource-inputs.cmake
string(REPLACE "|" ";" inputs "${INPUTS}")

function(query_inputs target result)
  file(RELATIVE_PATH name "${BUILD_DIR}" "${target}")
  execute_process(COMMAND "${NINJA}" -C "${BUILD_DIR}" -t query "${name}"
                  OUTPUT_VARIABLE answer RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "ninja does not know ${name}:\n${answer}")
  endif()
  # Only what the target is built from, not what is built from it.
  string(REGEX REPLACE "\n  outputs:.*" "" answer "${answer}")
  set(${result} "${answer}" PARENT_SCOPE)
endfunction()

set(failures "")
query_inputs("${EXE}" exe_inputs)
file(RELATIVE_PATH resource_name "${BUILD_DIR}" "${RESOURCE_OBJECT}")
string(FIND "${exe_inputs}" "${resource_name}" at)
if(at EQUAL -1)
  string(APPEND failures "\n  ${EXE} is not built from ${resource_name}")
endif()
query_inputs("${RESOURCE_OBJECT}" resource_inputs)
foreach(input IN LISTS inputs)
  # Ninja names a file in the build folder relative to it.
  file(RELATIVE_PATH relative "${BUILD_DIR}" "${input}")
  string(FIND "${resource_inputs}" "${input}" at)
  if(at EQUAL -1 AND NOT relative MATCHES "^\\.\\.")
    string(REGEX MATCH "\n *\\| ${relative}\n" found "${resource_inputs}")
    if(found)
      set(at 0)
    endif()
  endif()
  if(at EQUAL -1)
    string(APPEND failures "\n  ${resource_name} does not depend on ${input}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "a resource input would not rebuild the program:${failures}\n${resource_inputs}")
endif()
message(STATUS "${resource_name} depends on ${inputs}")
