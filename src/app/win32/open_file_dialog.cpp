#include "app/win32/open_file_dialog.h"

#include <commdlg.h>

#include <cstring>

namespace farsend::app::win32 {

std::optional<std::string> ChooseFile(HWND owner, const OpenFileRequest& request,
                                      const std::string& initialFile) {
    char path[MAX_PATH] = {};
    if (initialFile.size() < MAX_PATH) std::memcpy(path, initialFile.data(), initialFile.size());

    // "Hex Files\0*.hex\0\0"
    std::string filter = request.filterName;
    filter += '\0';
    filter += request.filterPattern;
    filter += '\0';
    filter += '\0';

    // The system appends the default extension as given, so "*.hex" would
    // give names like "name.*.h"; it wants the extension alone.
    std::string extension = request.defaultExtension;
    if (extension.rfind("*.", 0) == 0) extension.erase(0, 2);

    OPENFILENAMEA parameters{};
    parameters.lStructSize = sizeof(parameters);
    parameters.hwndOwner = owner;
    parameters.lpstrFilter = filter.c_str();
    parameters.nFilterIndex = 1;
    parameters.lpstrFile = path;
    parameters.nMaxFile = MAX_PATH;
    parameters.nMaxFileTitle = MAX_PATH;
    parameters.lpstrInitialDir =
        request.initialDirectory.empty() ? nullptr : request.initialDirectory.c_str();
    parameters.lpstrTitle = request.title.c_str();
    parameters.Flags = request.mustExist ? OFN_FILEMUSTEXIST : 0;
    parameters.lpstrDefExt = extension.c_str();
    if (!GetOpenFileNameA(&parameters)) return std::nullopt;
    return std::string(path);
}

}  // namespace farsend::app::win32
