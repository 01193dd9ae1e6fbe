#pragma once

namespace zelmora::sweep {

// What identifies this build, as far as a sweep's results go: the version and a hash of the
// sources that decide them (the model's and the sweep library's, with their build files), computed
// alike from a git work tree, an unpacked source tree or a package built from either, so builds of
// the same sources carry the same id ("0.1+src-1a2b3c4d5e6f"). Identical bytes are promised only
// between runs of builds with one id.
const char* BuildId();

// Where the build came from, for people: the git commit ("g1a2b3c4d5e6f", "-dirty" for a tree with
// changes), or "unknown" without git. Not part of the identity.
const char* BuildSource();

}  // namespace zelmora::sweep
