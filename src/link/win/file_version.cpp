#include "link/win/file_version.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "link/win/system_libraries.h"

namespace farsend::link {
namespace {

const char* const kStringTables[] = {
    "\\StringFileInfo\\040904E4\\",
    "\\StringFileInfo\\040904B0\\",
    "\\StringFileInfo\\000004E4\\",
};

// The value of `key`, or "" when the resource or the key is missing.
std::string LookUpVersionValue(const char* fileName, const char* key) {
    if (!versionApi.Bind("version.dll")) return {};
    const DWORD size = versionApi.GetFileVersionInfoSize(fileName);
    if (size == 0) return {};
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block || !versionApi.GetFileVersionInfo(fileName, size, block.get())) return {};

    for (const char* table : kStringTables) {
        const std::string path = std::string(table) + key;
        void* value = nullptr;
        UINT length = 0;
        if (!versionApi.VerQueryValue(block.get(), path.c_str(), &value, &length) ||
            value == nullptr) {
            continue;
        }
        // The length counts characters and may include the terminator; the
        // value is not trusted to be terminated within it.
        const char* text = static_cast<const char*>(value);
        size_t usable = 0;
        while (usable < length && usable < kMaxVersionValue && text[usable] != '\0') ++usable;
        return std::string(text, usable);
    }
    return {};
}

}  // namespace

char* GetFileVersionString(const char* fileName, const char* key, char* output,
                           size_t outputLength) {
    if (output == nullptr) return output;
    output[0] = '\0';
    if (fileName == nullptr || key == nullptr) return output;
    const std::string value = LookUpVersionValue(fileName, key);
    const size_t copied = value.size() < outputLength ? value.size() : outputLength;
    std::memcpy(output, value.data(), copied);
    output[copied] = '\0';
    return output;
}

}  // namespace farsend::link
