// The HID serial link: a byte stream to the target over the USB HID-to-UART
// bridge. Bytes written are framed into output reports; the reader thread
// collects input reports, whose payload the link hands out byte by byte.
//
// One thread at a time uses a link (the connection monitor or a job worker);
// only the reader thread runs beside it, with its own locks.
//
// Results are LinkResult codes (link/link_result.h): 0 success, -1 nothing
// available now, -2 bad argument or not open, -3 handle missing or a report
// write failed, -4 open failed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/clock.h"
#include "link/bridge_locator.h"
#include "link/cd_hid_thread.h"
#include "link/hid_platform.h"
#include "link/link_result.h"

namespace farsend::link {

// Both the output and the input report are built in buffers of this size.
constexpr int kLinkReportBufferSize = 1024;
constexpr int kRxBufferSize = 1024;

// Pauses that pace the bridge.
constexpr Millis kLegacyReportPause{2};
constexpr Millis kSmallReportPause{15};
constexpr Millis kFeaturePause{30};
constexpr Millis kFirstReportPause{55};
constexpr Millis kRestartPause{200};

// Normal framing: report ID, control byte, count, payload.
constexpr uint8_t kControlData = 0x20;
constexpr uint8_t kControlClose = 0x00;
// Legacy framing puts this byte between the report ID and the control byte.
constexpr uint8_t kLegacyMarker = 0xF6;
constexpr int kLegacyChunk = 5;
// The payload count of a report is one byte.
constexpr int kLargestReportPayload = 255;
// The HID library version that selects the legacy framing.
constexpr const char* kLegacyHidLibraryVersion = "4.10.1998";

constexpr uint8_t kConfigFeature[6] = {0x00, 0x09, 0x08, 0x07, 0x06, 0x05};
constexpr uint8_t kCloseFeature[6] = {0x00, 0xF4, 0x00, 0x00, 0x00, 0x00};

struct HidSerialLink {
    HidSerialLink() = default;
    // Stops the reader and closes the handles of a link still open.
    ~HidSerialLink();
    HidSerialLink(const HidSerialLink&) = delete;
    HidSerialLink& operator=(const HidSerialLink&) = delete;

    HidHandle writeHandle = kNoHandle;  // output and feature reports
    HidHandle readHandle = kNoHandle;   // the reader thread's
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    HidCaps caps{};
    uint16_t rxPos = 0;
    uint16_t rxCount = 0;
    std::unique_ptr<uint8_t[]> rxBuffer;  // payload of the latest input report
    std::unique_ptr<CDHidThread> reader;
    uint8_t win98Mode = 0;  // legacy framing of output reports

    // Seams, set before the first open and left alone while open.
    // Without a platform every open fails with -4; without a clock the link
    // uses the real one.
    HidPlatform* platform = nullptr;
    Clock* clock = nullptr;
    // Without a locator an open searches for the bridge; with one it opens
    // the path the locator gives (see link/bridge_locator.h).
    BridgeLocator* locator = nullptr;
    // Notified by the reader whenever it stores reports.
    WakeSignal readable;
    // Set by the reader when the platform says the bridge was unplugged;
    // cleared by the next open. It stays set after the link is closed, so
    // that whoever reports the failure can say why.
    std::atomic<bool> bridgeGone{false};
};

// Opens the bridge: the one the link's locator names, else the first found.
LinkResult HidLinkOpen(HidSerialLink& link);
// Opens exactly the interface at `path`, provided it carries the bridge's
// identifiers; nothing else is searched or opened. An empty path fails (-4).
LinkResult HidLinkOpenPath(HidSerialLink& link, const std::string& path);
LinkResult HidLinkClose(HidSerialLink& link);
LinkResult HidLinkWrite(HidSerialLink& link, const uint8_t* bytes, int16_t length);
LinkResult HidLinkReadByte(HidSerialLink& link, uint8_t* destination);
LinkResult HidLinkReadReport(HidSerialLink& link, uint8_t* report, int length);
LinkResult HidLinkWriteReport(HidSerialLink& link, const uint8_t* report, int length);
// 1: the device accepted the feature report; 0: refused or no handle.
int16_t HidLinkSetFeature(HidSerialLink& link, const uint8_t* report, size_t length);
int16_t HidLinkSendConfigFeature(HidSerialLink& link);
int16_t HidLinkSendCloseFeature(HidSerialLink& link);
LinkResult HidLinkStop(HidSerialLink& link);

// Sleeps on the link's clock until the reader has stored input or `timeout`
// has passed. True at once when a byte is already waiting; true when woken
// by the reader. On a closed link it sleeps the whole timeout and returns
// false. Lets callers that wait for answers sleep instead of spinning.
// With `cancel`: false at once when it is set, also when it is set while
// asleep, provided the canceller then notifies `readable` (the flag is looked
// at after the wait has forgotten earlier notifications, so none is lost).
// A link whose bridge is gone returns false at once: the reader will store
// nothing more.
bool HidLinkWaitReadable(HidSerialLink& link, Millis timeout,
                         const std::atomic<bool>* cancel = nullptr);

// Whether the bridge of the latest open was unplugged (see bridgeGone).
inline bool HidLinkBridgeGone(const HidSerialLink& link) {
    return link.bridgeGone.load();
}

// Device discovery over the platform seam, shared by every backend.
// 0: bridge open, capabilities read, reader running; -4: failure, nothing
// left open. An empty path searches (HidLinkFindDevice), another opens that
// interface alone (HidLinkTakeDevice).
LinkResult HidLinkOpenDevice(HidSerialLink& link, const std::string& path = {});
// Opens the first interface with the link's vendor and product identifiers
// twice (writeHandle, readHandle); other interfaces are closed again.
bool HidLinkFindDevice(HidSerialLink& link);
// Opens the interface at `path` twice when it carries the link's vendor and
// product identifiers; otherwise leaves nothing open.
bool HidLinkTakeDevice(HidSerialLink& link, const std::string& path);
// Fills caps from writeHandle; the platform's status.
bool HidLinkReadCaps(HidSerialLink& link);
// Asks for 512, 256, 196, then 128 queued input reports on writeHandle,
// stopping at the first accepted; if none is, sets 32.
void HidLinkSetInputBuffers(HidSerialLink& link);

// Whether the link can work with these report lengths (report ID included):
// the reader must be able to use the input length, both must fit the link's
// report buffers, and an output report must carry at least one payload byte
// in the framing in use.
bool HidLinkReportLengthsUsable(const HidCaps& caps, bool legacyFraming);

// The link's clock (the real one when none was given).
Clock& HidLinkClock(HidSerialLink& link);

}  // namespace farsend::link
