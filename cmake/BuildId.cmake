# Writes OUT (a C++ file defining zelmora::sweep::BuildId and BuildSource) from VERSION and the
# source tree SOURCE. The id is the version and a hash of the sources that decide a sweep's results
# (simulation/ and sweep/ with their build files, and the top-level build file that sets the
# model's compiler flags), each named by its path in the tree: the same with or without git, in any
# folder, so a build tree and a package built from the same sources carry the same id. The commit,
# where git knows it, is kept beside it for people. The file is only rewritten when either changes,
# so an unchanged build recompiles nothing.
file(GLOB_RECURSE sources RELATIVE "${SOURCE}" "${SOURCE}/simulation/*" "${SOURCE}/sweep/*")
list(APPEND sources CMakeLists.txt)
list(SORT sources)
set(all "")
foreach(source IN LISTS sources)
  file(SHA256 "${SOURCE}/${source}" hash)
  string(APPEND all "${source} ${hash}\n")
endforeach()
string(SHA256 hash "${all}")
string(SUBSTRING "${hash}" 0 12 hash)
set(id "${VERSION}+src-${hash}")

set(origin "unknown")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE}" rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE commit RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed AND commit)
    set(origin "g${commit}")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(changes)
      string(APPEND origin "-dirty")
    endif()
  endif()
endif()

set(text "// Written by cmake/BuildId.cmake at each build.\n#include \"sweep/Build.h\"\n\nnamespace zelmora::sweep {\nconst char* BuildId() { return \"${id}\"; }\nconst char* BuildSource() { return \"${origin}\"; }\n}  // namespace zelmora::sweep\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
