// A library bound at run time: its module handle and the entry points it was
// asked for, resolved by name in a fixed order. Nothing is linked at build
// time, so the program starts on systems that lack a library or one of its
// functions; a call whose entry point is missing fails instead.
//
// Libraries are loaded by full path from the system directory. A bare name
// would let a DLL of the same name in the working directory (or beside a
// document the user opened) be bound in place of the system's.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

namespace farsend::link {

// "<system directory>\<fileName>", or "" when the system directory is unknown.
std::string SystemLibraryPath(const char* fileName);

// Loads a library of the system directory; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* fileName);

template <size_t N>
class BindingTable {
public:
    // Constant-initialised: a table is empty (all null) before any code of
    // the program runs, whatever the order of static initialisation.
    constexpr explicit BindingTable(const std::array<const char*, N>& names) : names_(names) {}
    // Unloads the library at process exit (or when a local table goes).
    ~BindingTable() { Release(); }
    BindingTable(const BindingTable&) = delete;
    BindingTable& operator=(const BindingTable&) = delete;

    // True when the library is loaded, now or by an earlier call; a loaded
    // table is not resolved again. False when it cannot be loaded; a later
    // call tries again. A name the library lacks leaves a null entry.
    bool Bind(const char* fileName) {
        if (module_ != nullptr) return true;
        HMODULE module = LoadSystemLibrary(fileName);
        if (module == nullptr) return false;
        for (size_t i = 0; i < N; ++i) entries_[i] = ::GetProcAddress(module, names_[i]);
        module_ = module;
        return true;
    }

    void Release() {
        if (module_ == nullptr) return;
        entries_.fill(nullptr);
        ::FreeLibrary(module_);
        module_ = nullptr;
    }

    HMODULE Module() const { return module_; }
    bool Has(size_t index) const { return entries_[index] != nullptr; }
    FARPROC Address(size_t index) const { return entries_[index]; }

protected:
    // The entry point as its own function type (null when missing). The
    // detour through void(*)() is the conversion the compiler accepts without
    // a cast-function-type warning.
    template <typename Function>
    Function Entry(size_t index) const {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entries_[index]));
    }

private:
    std::array<const char*, N> names_;
    HMODULE module_ = nullptr;
    std::array<FARPROC, N> entries_{};
};

}  // namespace farsend::link
