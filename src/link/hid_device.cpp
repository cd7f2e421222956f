// Finding and opening the bridge over the platform seam: the steps that are
// the same for every backend.
#include <new>
#include <string>
#include <vector>

#include "link/hid_serial_link.h"

namespace farsend::link {

namespace {

constexpr uint32_t kInputBufferCounts[] = {512, 256, 196, 128};
constexpr uint32_t kFallbackInputBuffers = 32;

}  // namespace

bool HidLinkReportLengthsUsable(const HidCaps& caps, bool legacyFraming) {
    const int in = caps.inputReportByteLength;
    const int out = caps.outputReportByteLength;
    if (!CDHidThread::IsUsableReportLength(in) || in > kLinkReportBufferSize) return false;
    // Report ID, (legacy marker,) control byte and count, then one payload byte.
    const int smallestOut = legacyFraming ? 5 : 4;
    return out >= smallestOut && out <= kLinkReportBufferSize;
}

namespace {

// Opens `path` twice when it carries the link's identifiers. False leaves
// nothing open.
bool TakeInterface(HidSerialLink& link, HidPlatform& platform, const std::string& path) {
    const HidHandle handle = platform.Open(path);
    if (handle == kNoHandle) return false;

    HidAttributes attributes;
    const bool matches = platform.GetAttributes(handle, &attributes) &&
                         attributes.vendorId == link.vendorId &&
                         attributes.productId == link.productId;
    if (matches) {
        const HidHandle second = platform.Open(path);
        if (second != kNoHandle) {
            link.writeHandle = handle;
            link.readHandle = second;
            return true;
        }
        // The bridge cannot be opened a second time (another program holds
        // it exclusively): it is of no use.
    }
    platform.Close(handle);
    return false;
}

}  // namespace

bool HidLinkFindDevice(HidSerialLink& link) {
    link.writeHandle = kNoHandle;
    link.readHandle = kNoHandle;
    if (link.platform == nullptr) return false;
    HidPlatform& platform = *link.platform;

    for (const std::string& path : platform.EnumerateInterfaces()) {
        if (TakeInterface(link, platform, path)) return true;
    }
    return false;
}

bool HidLinkTakeDevice(HidSerialLink& link, const std::string& path) {
    link.writeHandle = kNoHandle;
    link.readHandle = kNoHandle;
    if (link.platform == nullptr || path.empty()) return false;
    // A node number can be given to another device after an unplug: the
    // identifiers decide, not the path alone.
    return TakeInterface(link, *link.platform, path);
}

bool HidLinkReadCaps(HidSerialLink& link) {
    if (link.platform == nullptr || link.writeHandle == kNoHandle) return false;
    return link.platform->GetCaps(link.writeHandle, &link.caps);
}

void HidLinkSetInputBuffers(HidSerialLink& link) {
    if (link.platform == nullptr || link.writeHandle == kNoHandle) return;
    for (uint32_t count : kInputBufferCounts) {
        if (link.platform->SetNumInputBuffers(link.writeHandle, count)) return;
    }
    link.platform->SetNumInputBuffers(link.writeHandle, kFallbackInputBuffers);
}

LinkResult HidLinkOpenDevice(HidSerialLink& link, const std::string& path) {
    if (link.platform == nullptr || !link.platform->Bind()) return LinkResult::OpenFailed;
    const bool opened = path.empty() ? HidLinkFindDevice(link) : HidLinkTakeDevice(link, path);
    if (!opened) return LinkResult::OpenFailed;

    // Without valid report lengths the link can neither frame nor read.
    link.caps = HidCaps{};
    if (!HidLinkReadCaps(link) || !HidLinkReportLengthsUsable(link.caps, link.win98Mode != 0)) {
        HidLinkStop(link);
        return LinkResult::OpenFailed;
    }
    HidLinkSetInputBuffers(link);

    link.reader.reset(new (std::nothrow) CDHidThread(*link.platform, link.readHandle,
                                                     link.caps.inputReportByteLength,
                                                     &link.readable, &link.bridgeGone));
    if (!link.reader || !link.reader->HasRing()) {
        HidLinkStop(link);
        return LinkResult::OpenFailed;
    }
    if (!link.reader->Start()) {
        HidLinkStop(link);
        return LinkResult::OpenFailed;
    }
    return LinkResult::Ok;
}

}  // namespace farsend::link
