#include "dialog_template.h"

#include <cstring>

namespace farsend::app::win32::test {
namespace {

// Bounds-checked little-endian reader over the template bytes. Any read past
// the end sets `failed` and yields zeros, so a broken template cannot crash
// the test.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool failed() const { return failed_; }

    uint16_t Word() {
        uint16_t v = 0;
        Copy(&v, sizeof v);
        return v;
    }
    uint32_t Dword() {
        uint32_t v = 0;
        Copy(&v, sizeof v);
        return v;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte() {
        uint8_t v = 0;
        Copy(&v, sizeof v);
        return v;
    }

    // A zero-terminated UTF-16 string; only ASCII occurs in our resources.
    std::string String() {
        std::string out;
        for (;;) {
            uint16_t c = Word();
            if (failed_ || c == 0) return out;
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }

    // "sz_Or_Ord": nothing, an ordinal (returned as "#n"), or a string.
    std::string StringOrOrdinal() {
        uint16_t first = Word();
        if (failed_ || first == 0) return {};
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        pos_ -= 2;
        return String();
    }

    void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
    void Skip(size_t n) {
        if (n > size_ - std::min(pos_, size_)) failed_ = true;
        pos_ += n;
    }

private:
    void Copy(void* out, size_t n) {
        if (failed_ || pos_ > size_ || size_ - pos_ < n) {
            failed_ = true;
            std::memset(out, 0, n);
            return;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool failed_ = false;
};

std::string PredefinedClassName(const std::string& cls) {
    static const struct {
        const char* ordinal;
        const char* name;
    } kAtoms[] = {{"#128", "Button"},  {"#129", "Edit"},      {"#130", "Static"},
                  {"#131", "ListBox"}, {"#132", "ScrollBar"}, {"#133", "ComboBox"}};
    for (const auto& atom : kAtoms) {
        if (cls == atom.ordinal) return atom.name;
    }
    return cls;
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(const uint8_t* data, size_t size) {
    Reader in(data, size);
    DialogTemplate dlg;
    uint16_t count = 0;
    uint16_t version = in.Word();
    uint16_t signature = in.Word();
    dlg.extended = version == 1 && signature == 0xFFFF;
    if (dlg.extended) {
        in.Dword();  // help id
        dlg.exStyle = in.Dword();
        dlg.style = in.Dword();
    } else {
        in = Reader(data, size);
        dlg.style = in.Dword();
        dlg.exStyle = in.Dword();
    }
    count = in.Word();
    dlg.x = in.Short();
    dlg.y = in.Short();
    dlg.cx = in.Short();
    dlg.cy = in.Short();
    dlg.menu = in.StringOrOrdinal();
    dlg.windowClass = in.StringOrOrdinal();
    dlg.caption = in.String();
    if (dlg.style & (DS_SETFONT | DS_SHELLFONT)) {
        dlg.hasFont = true;
        dlg.pointSize = in.Word();
        if (dlg.extended) {
            in.Word();  // weight
            in.Byte();  // italic
            in.Byte();  // character set
        }
        dlg.face = in.String();
    }
    for (uint16_t i = 0; i < count && !in.failed(); ++i) {
        in.AlignDword();
        ControlTemplate ctl;
        if (dlg.extended) {
            in.Dword();  // help id
            ctl.exStyle = in.Dword();
            ctl.style = in.Dword();
        } else {
            ctl.style = in.Dword();
            ctl.exStyle = in.Dword();
        }
        ctl.x = in.Short();
        ctl.y = in.Short();
        ctl.cx = in.Short();
        ctl.cy = in.Short();
        ctl.id = dlg.extended ? in.Dword() : in.Word();
        ctl.className = PredefinedClassName(in.StringOrOrdinal());
        ctl.text = in.StringOrOrdinal();
        in.Skip(in.Word());  // creation data
        dlg.controls.push_back(ctl);
    }
    if (in.failed()) return std::nullopt;
    return dlg;
}

std::optional<DialogTemplate> LoadDialogTemplate(HMODULE module, const char* name) {
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return std::nullopt;
    return ParseDialogTemplate(static_cast<const uint8_t*>(bytes), SizeofResource(module, found));
}

}  // namespace farsend::app::win32::test
