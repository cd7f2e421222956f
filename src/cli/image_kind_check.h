// Whether the image's kind, as its name gives it, agrees with the mode asked
// for. Programming in factory mode erases the bootloader too: an application
// image written that way leaves a target that can never be programmed again,
// and a factory image written as an application puts a bootloader where the
// application belongs.
#pragma once

#include <optional>
#include <string>

namespace farsend::cli {

// Why `path` must not be programmed with `factory` as given; nothing when it
// may. `force`: the operator knows that a file whose name lacks the factory
// marker (_f) does hold bootloader and application.
std::optional<std::string> ImageKindProblem(const std::string& path, bool factory, bool force);

}  // namespace farsend::cli
