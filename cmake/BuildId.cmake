# Writes OUT (a C++ file defining zelmora::batch::BuildId) from VERSION and the source in SOURCE:
# the git commit where the source is a git work tree, otherwise a hash of the model's and the
# batch program's sources. The file is only rewritten when the id changes, so an unchanged build
# recompiles nothing.
set(id "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE}" rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed AND commit)
    set(id "${VERSION}+g${commit}")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(changes)
      set(id "${id}-dirty")
    endif()
  endif()
endif()
if(NOT id)
  file(GLOB_RECURSE sources "${SOURCE}/simulation/*.cpp" "${SOURCE}/simulation/*.h"
                            "${SOURCE}/batch/*.cpp" "${SOURCE}/batch/*.h"
                            "${SOURCE}/sweep/*.cpp" "${SOURCE}/sweep/*.h")
  list(SORT sources)
  set(all "")
  foreach(source IN LISTS sources)
    file(SHA256 "${source}" hash)
    string(APPEND all "${hash}")
  endforeach()
  string(SHA256 hash "${all}")
  string(SUBSTRING "${hash}" 0 12 hash)
  set(id "${VERSION}+src-${hash}")
endif()
set(text "// Written by cmake/BuildId.cmake at each build.\n#include \"sweep/Build.h\"\n\nnamespace zelmora::batch {\nconst char* BuildId() { return \"${id}\"; }\n}  // namespace zelmora::batch\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
