// Whether a file's access list lets its owner alone in, read back from the
// file system: what is wrong with it, or "" when it does.
#pragma once

#include <string>

namespace farsend::testing {

std::string OwnerOnlyProblem(const std::string& path);

}  // namespace farsend::testing
