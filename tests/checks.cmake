# The checks of the tools and of the release, which are shell scripts: they
# build, run and compare things across presets (the Visual Studio route, the
# Wine probe, a release made again), so they are registered once, with the
# released build, the windows preset, and run by label rather than with its
# suites: ctest --test-dir build/windows -L tools (or -L release, or one
# check's own label). The 64-bit build they also read is the windows64
# preset's.
set(PELMORA_WINDOWS64_BUILD "${PROJECT_SOURCE_DIR}/build/windows64" CACHE PATH
  "The 64-bit MinGW-w64 build that the release checks read beside this one")
find_program(PELMORA_BASH bash)
if(NOT PELMORA_BASH)
  pelmora_skipped_check(Tools.AndReleaseChecks "they are bash scripts, and bash was not found")
  return()
endif()

# name, labels, timeout in seconds, script, then its arguments
function(pelmora_script_check name labels timeout script)
  add_test(NAME ${name} COMMAND "${PELMORA_BASH}" "${PROJECT_SOURCE_DIR}/${script}" ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${timeout})
endfunction()

set(exe32 "$<TARGET_FILE:Pelmora>")
set(exe64 "${PELMORA_WINDOWS64_BUILD}/Pelmora.exe")
pelmora_script_check(Tools.VisualStudioRouteNeedsOnlyTheCompilersTools "tools;msvc-route" 900
  tests/tools/check-msvc-route.sh)
pelmora_script_check(Tools.OnlyTheKernelsRefusalSkipsThe32BitSuite "tools;wine-probe" 300
  tests/tools/check-wine-probe.sh "$<TARGET_FILE:pelmora_wine_probe>"
  "${PELMORA_WINDOWS64_BUILD}/tests/pelmora_wine_probe.exe")
pelmora_script_check(Tools.Sse2StaysInItsObjectWhateverTheFlags "tools;sse2-flags" 900
  tests/tools/check-sse2-default-flags.sh)
pelmora_script_check(Tools.WindowsWorkflowIsValid "tools;workflow" 300 tests/tools/check-workflow.sh)
pelmora_script_check(Tools.ScriptsAreLfEverywhere "tools;line-ends" 60 tests/tools/check-script-line-ends.sh)
# Where the validator or the index is out of reach, the check says so.
set_tests_properties(Tools.WindowsWorkflowIsValid Tools.ScriptsAreLfEverywhere PROPERTIES
  SKIP_REGULAR_EXPRESSION "skipped: ")
pelmora_script_check(Release.BuiltAgainElsewhereGivesTheSameBytes "release;reproducible" 1800
  tests/release/check-reproducible.sh "${exe32}" "${exe64}")
pelmora_script_check(Release.SignedWithThrowawayKeys "release;signed-release" 900
  tests/release/check-signed-release.sh "${exe32}" "${exe64}")
pelmora_script_check(Release.SameExeAfterAFailedConfigure "release;half-made-build" 1800
  tests/release/check-half-made-build.sh "${exe32}" "${exe64}")
