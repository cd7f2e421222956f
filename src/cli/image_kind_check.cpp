#include "cli/image_kind_check.h"

#include "firmware/image_names.h"

namespace farsend::cli {

std::optional<std::string> ImageKindProblem(const std::string& path, bool factory, bool force) {
    const bool factoryImage = firmware::IsFactoryImageName(path);
    const std::string name = firmware::GetFileNamePart(path);
    if (factory && !factoryImage && !force) {
        return name +
               " is not named as a factory image (_f): with --factory the target's bootloader "
               "is erased, and an application image would leave it without one. Nothing was "
               "sent.\nLeave out --factory to program the application, or add --force if this "
               "file does hold bootloader and application.";
    }
    if (!factory && factoryImage) {
        return name +
               " is a factory image (bootloader and application, _f) and would be written "
               "where the application belongs. Nothing was sent.\nAdd --factory to program "
               "bootloader and application, or choose the application image.";
    }
    return std::nullopt;
}

}  // namespace farsend::cli
