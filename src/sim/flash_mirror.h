// Every simulated target's flash kept as a file of its own in a folder
// (--sim-flash-dir), in the flash-file format, rewritten whenever the target
// arrives, its flash is erased or a block is stored. Tests and campaigns that
// kill the process read the targets' flash from there afterwards.
//
// Each update writes a temporary file next to the target's file and renames
// it over the old one, so a reader finds the old or the new file whole and
// never a torn one, whenever the process dies (SIGKILL included: what was
// written is the kernel's by then). A power cut is not simulated, so nothing
// is synced to the disk.
//
// File names: LOCATION_TIME_pPID_tN.hex for target N (counting from 1) of the
// bridge at LOCATION in the process PID, started at TIME (UTC, as in
// 20240501T120000Z). The time keeps apart two processes that got the same
// process ID one after the other; a temporary file ends in ".hex.tmp".
#pragma once

#include <cstdint>
#include <string>

#include "sim/flash_file.h"

namespace farsend::sim {

// "20240501T120000Z_p4242": this process, the same for all its bridges.
std::string ProcessTag();
std::string FlashMirrorFileName(const std::string& location, const std::string& process,
                                uint32_t target);

// Writes `text` + `tail` to a temporary file and renames it over `path`.
bool ReplaceFileWhole(const std::string& path, const std::string& text, const char* tail,
                      std::string& error);

class FlashMirror {
public:
    // The folder must exist (Simulation::Create makes it).
    FlashMirror(std::string folder, std::string location);

    // A new target arrived: from now on its own, empty file.
    void TargetArrived(uint32_t target);
    void Erased();
    // `data` (`count` bytes) was stored from `base` on; `flash` holds it
    // already, for when the text has to start again.
    void Programmed(uint32_t base, const uint8_t* data, uint32_t count, const FlashPages& flash);

    // The current target's file ("" before the first arrives).
    const std::string& CurrentPath() const { return path_; }
    // False once a file could not be written; `error` says which and why.
    bool Ok(std::string& error) const;

private:
    void Write();

    const std::string folder_;
    const std::string location_;
    const std::string process_;
    std::string path_;
    FlashText text_;
    std::string error_;
};

}  // namespace farsend::sim
