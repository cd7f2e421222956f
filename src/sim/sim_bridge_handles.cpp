// The simulated bridge's enumeration and its table of open handles.
#include "sim/sim_bridge.h"

namespace farsend::sim {

namespace {

using link::HidHandle;
using link::kNoHandle;

}  // namespace

// --- enumeration and handles ----------------------------------------------

std::vector<std::string> SimBridge::EnumerateInterfaces() {
    std::vector<std::string> paths;
    const bool plugged = plug_.Plugged();
    for (const Interface& i : interfaces_) {
        if (i.isBridge && !plugged) continue;
        paths.push_back(i.path);
    }
    return paths;
}

link::HidIdentity SimBridge::Identify(const std::string& path) {
    for (const Interface& i : interfaces_) {
        if (i.path != path) continue;
        if (i.isBridge && !plug_.Plugged()) return {};
        return i.identity;
    }
    return {};
}

HidHandle SimBridge::Open(const std::string& path) {
    Lock lock(mutex_);
    for (size_t index = 0; index < interfaces_.size(); ++index) {
        if (interfaces_[index].path != path) continue;
        if (interfaces_[index].isBridge && !plug_.Plugged()) return kNoHandle;
        const HidHandle handle = nextHandle_++;
        handles_[handle] = index;
        return handle;
    }
    return kNoHandle;
}

void SimBridge::Close(HidHandle handle) {
    Lock lock(mutex_);
    handles_.erase(handle);
    changed_.notify_all();
}

const SimBridge::Interface* SimBridge::FindLocked(HidHandle handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &interfaces_[it->second];
}

bool SimBridge::IsBridgeHandleLocked(HidHandle handle) const {
    const Interface* i = FindLocked(handle);
    return i != nullptr && i->isBridge && plug_.Plugged();
}

int SimBridge::OpenBridgeHandlesLocked() const {
    int open = 0;
    for (const auto& entry : handles_) {
        if (interfaces_[entry.second].isBridge) ++open;
    }
    return open;
}

bool SimBridge::ReaderExpectedLocked() const {
    // The link opens the bridge twice; the second handle is its reader's.
    return plug_.Plugged() && OpenBridgeHandlesLocked() >= 2;
}

void SimBridge::WaitUntilGoneHeardLocked(Lock& lock) {
    // A real system tells the reader of an unplug at once. Here the plug is
    // pulled inside a write, and the writer's next step may be a wait in
    // virtual time that would pass its deadline before the reader looked:
    // so the write returns only once the reader has failed a read as gone
    // and come back for another, by which time it has told the link.
    changed_.notify_all();
    if (OpenBridgeHandlesLocked() < 2) return;
    const bool heard = changed_.wait_for(lock, options_.handoffCap, [&] {
        return goneReads_ >= 2 || OpenBridgeHandlesLocked() < 2;
    });
    if (!heard) ++stats_.handoffTimeouts;
}

bool SimBridge::GetAttributes(HidHandle handle, link::HidAttributes* attributes) {
    Lock lock(mutex_);
    const Interface* i = FindLocked(handle);
    if (i == nullptr || attributes == nullptr || (i->isBridge && !plug_.Plugged())) return false;
    *attributes = i->attributes;
    return true;
}

bool SimBridge::GetCaps(HidHandle handle, link::HidCaps* caps) {
    Lock lock(mutex_);
    const Interface* i = FindLocked(handle);
    if (i == nullptr || caps == nullptr || (i->isBridge && !plug_.Plugged())) return false;
    *caps = i->caps;
    return true;
}

bool SimBridge::SetNumInputBuffers(HidHandle handle, uint32_t count) {
    Lock lock(mutex_);
    if (FindLocked(handle) == nullptr || count < 2 || count > options_.maxInputBuffers)
        return false;
    if (IsBridgeHandleLocked(handle)) stats_.inputBuffers = count;
    return true;
}

}  // namespace farsend::sim
