// The texts of --help and --version.
#pragma once

#include <string>

namespace farsend::cli {

std::string HelpText();
// "farsend <version>".
std::string VersionText();

}  // namespace farsend::cli
