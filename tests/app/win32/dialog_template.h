// Reads a dialog template resource (plain or extended) into plain values, so
// tests can compare what the resource compiler produced with what we meant.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace farsend::app::win32::test {

struct ControlTemplate {
    uint32_t id = 0;
    std::string className;  // predefined classes by name: "Button", "Static", ...
    std::string text;       // empty when the template holds none
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    bool extended = false;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;
    std::string windowClass;
    std::string caption;
    bool hasFont = false;
    uint16_t pointSize = 0;
    std::string face;
    std::vector<ControlTemplate> controls;
};

// The template as stored, or nothing when the bytes are not a well-formed
// template (truncated, or an item running past the end).
std::optional<DialogTemplate> ParseDialogTemplate(const uint8_t* data, size_t size);

// Finds dialog `name` in `module` and parses it.
std::optional<DialogTemplate> LoadDialogTemplate(HMODULE module, const char* name);

}  // namespace farsend::app::win32::test
