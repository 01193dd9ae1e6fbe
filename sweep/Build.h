#pragma once

namespace zelmora::batch {

// What identifies this build: the version and the source's commit ("0.1+g1a2b3c4d5e6f", with
// "-dirty" when the tree had changes), or, built from a tree without git, the version and a hash
// of the sources ("0.1+src-..."). Written by CMake at each build; identical bytes are promised
// only between runs of one build.
const char* BuildId();

}  // namespace zelmora::batch
