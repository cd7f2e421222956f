#include "link/hid_serial_link.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "link/bridge_ids.h"

namespace farsend::link {

HidSerialLink::~HidSerialLink() {
    HidLinkStop(*this);
}

Clock& HidLinkClock(HidSerialLink& link) {
    return link.clock != nullptr ? *link.clock : RealClock();
}

namespace {

bool IsOpen(const HidSerialLink& link) {
    return link.rxBuffer || link.reader || link.writeHandle != kNoHandle ||
           link.readHandle != kNoHandle;
}

void ReleaseRxBuffer(HidSerialLink& link) {
    link.rxBuffer.reset();
}

// Writes a data report with no payload (the first report of an open) or the
// close report, in the framing of the link.
LinkResult WriteControlReport(HidSerialLink& link, uint8_t control) {
    uint8_t report[kLinkReportBufferSize] = {};
    int at = 1;
    if (link.win98Mode) report[at++] = kLegacyMarker;
    report[at++] = control;
    report[at] = 0;
    return HidLinkWriteReport(link, report, link.caps.outputReportByteLength);
}

// The open itself. An empty path: the first bridge found.
LinkResult OpenBridge(HidSerialLink& link, const std::string& path) {
    // Opening an open link would leak its reader and handles: start afresh.
    if (IsOpen(link)) HidLinkClose(link);

    link.win98Mode = 0;
    link.rxPos = 0;
    link.rxCount = 0;
    link.rxBuffer.reset(new (std::nothrow) uint8_t[kRxBufferSize]);
    if (!link.rxBuffer) return LinkResult::OpenFailed;
    link.readable.Consume();
    link.bridgeGone.store(false);

    if (link.platform == nullptr) {
        ReleaseRxBuffer(link);
        return LinkResult::OpenFailed;
    }
    HidPlatform& platform = *link.platform;
    Clock& clock = HidLinkClock(link);

    link.vendorId = kBridgeVendorId;
    link.productId = kBridgeProductId;

    std::string version = platform.HidLibraryFileVersion();
    if (version.size() > 99) version.resize(99);
    if (version == kLegacyHidLibraryVersion) link.win98Mode = 1;

    if (platform.OsClass() >= 5) {
        const int restarted = platform.RestartBridge(static_cast<uint16_t>(link.vendorId),
                                                     static_cast<uint16_t>(link.productId), path);
        if (restarted == 0) {
            ReleaseRxBuffer(link);
            return LinkResult::OpenFailed;
        }
        clock.SleepFor(kRestartPause);
    }

    if (HidLinkOpenDevice(link, path) == LinkResult::OpenFailed) {
        ReleaseRxBuffer(link);
        return LinkResult::OpenFailed;
    }

    if (HidLinkSendConfigFeature(link) == 0) {
        HidLinkClose(link);
        return LinkResult::OpenFailed;
    }

    // The legacy framing ends the open the same way: the first report
    // (00 F6 20 00) either goes out or the open fails with -3.
    if (WriteControlReport(link, kControlData) == LinkResult::ReportFailed) {
        HidLinkClose(link);
        return LinkResult::ReportFailed;
    }
    clock.SleepFor(kFirstReportPause);
    return LinkResult::Ok;
}

}  // namespace

LinkResult HidLinkOpen(HidSerialLink& link) {
    if (link.locator == nullptr || link.platform == nullptr) return OpenBridge(link, {});
    return HidLinkOpenPath(link, link.locator->PathToOpen(*link.platform));
}

LinkResult HidLinkOpenPath(HidSerialLink& link, const std::string& path) {
    if (!path.empty()) return OpenBridge(link, path);
    // No bridge to open: a restart or a search could only reach another
    // station's bridge, so neither happens.
    if (IsOpen(link)) HidLinkClose(link);
    link.bridgeGone.store(false);
    return LinkResult::OpenFailed;
}

LinkResult HidLinkClose(HidSerialLink& link) {
    WriteControlReport(link, kControlClose);
    HidLinkStop(link);
    ReleaseRxBuffer(link);
    return LinkResult::Ok;
}

LinkResult HidLinkStop(HidSerialLink& link) {
    if (link.reader) {
        link.reader->RequestStop();
        link.reader->Wait(-1);
        link.reader.reset();
    }
    if (link.readHandle != kNoHandle) {
        if (link.platform != nullptr) link.platform->Close(link.readHandle);
        link.readHandle = kNoHandle;
    }
    if (link.writeHandle != kNoHandle) {
        if (link.platform != nullptr) link.platform->Close(link.writeHandle);
        link.writeHandle = kNoHandle;
    }
    return LinkResult::Ok;
}

LinkResult HidLinkWrite(HidSerialLink& link, const uint8_t* bytes, int16_t length) {
    if (length <= 0) return LinkResult::Ok;
    if (bytes == nullptr) return LinkResult::BadArgument;

    const bool legacy = link.win98Mode != 0;
    const int outLength = link.caps.outputReportByteLength;
    const int header = legacy ? 4 : 3;
    // The count is one byte: a report longer than 258 bytes still carries
    // at most 255, or the count would wrap and the rest be lost unseen.
    const int chunk = legacy ? kLegacyChunk : std::min(outLength - 3, kLargestReportPayload);
    // A report length that cannot carry a payload byte would either loop for
    // ever or drop every byte while reporting success; neither is acceptable.
    if (chunk < 1 || header + 1 > outLength || outLength > kLinkReportBufferSize) {
        return LinkResult::ReportFailed;
    }

    Clock& clock = HidLinkClock(link);
    uint8_t report[kLinkReportBufferSize];
    int sent = 0;
    while (sent < length) {
        const int n = std::min(static_cast<int>(length) - sent, chunk);
        // The frame may be shorter than the report (legacy framing with a
        // report just over the header): then it carries fewer bytes.
        const int carried = std::min(n, outLength - header);
        std::memset(report, 0, static_cast<size_t>(outLength));
        int at = 1;
        if (legacy) report[at++] = kLegacyMarker;
        report[at++] = kControlData;
        report[at++] = static_cast<uint8_t>(carried);
        std::memcpy(report + at, bytes + sent, static_cast<size_t>(carried));

        if (HidLinkWriteReport(link, report, outLength) == LinkResult::ReportFailed)
            return LinkResult::ReportFailed;
        if (legacy) {
            clock.SleepFor(kLegacyReportPause);
        } else if (length > 1 && outLength <= 32) {
            clock.SleepFor(kSmallReportPause);
        }
        sent += carried;
    }
    return LinkResult::Ok;
}

LinkResult HidLinkReadReport(HidSerialLink& link, uint8_t* report, int length) {
    if (link.readHandle == kNoHandle || !link.reader) return LinkResult::ReportFailed;
    if (report == nullptr || length != link.caps.inputReportByteLength) {
        return LinkResult::BadArgument;
    }
    int32_t taken = 0;
    link.reader->TakeReport(report, length, &taken);
    return taken == length ? LinkResult::Ok : LinkResult::BadArgument;
}

LinkResult HidLinkReadByte(HidSerialLink& link, uint8_t* destination) {
    if (destination == nullptr || !link.rxBuffer) return LinkResult::BadArgument;

    if (link.rxPos >= link.rxCount) {
        uint8_t report[kLinkReportBufferSize];
        const int inLength = link.caps.inputReportByteLength;
        if (HidLinkReadReport(link, report, inLength) != LinkResult::Ok)
            return LinkResult::NothingAvailable;
        const int count = report[2];
        if (count == 0 || count > inLength) return LinkResult::NothingAvailable;
        // A count that names bytes beyond the report's end delivers only the
        // bytes the report has.
        const int usable = std::min(count, inLength - 3);
        if (usable <= 0) return LinkResult::NothingAvailable;
        std::memcpy(link.rxBuffer.get(), report + 3, static_cast<size_t>(usable));
        link.rxCount = static_cast<uint16_t>(usable);
        link.rxPos = 0;
    }
    if (link.rxCount == 0) return LinkResult::NothingAvailable;

    *destination = link.rxBuffer[link.rxPos];
    ++link.rxPos;
    return LinkResult::Ok;
}

LinkResult HidLinkWriteReport(HidSerialLink& link, const uint8_t* report, int length) {
    if (link.writeHandle == kNoHandle || link.platform == nullptr) return LinkResult::ReportFailed;
    if (report == nullptr || length != link.caps.outputReportByteLength) {
        return LinkResult::ReportFailed;
    }
    const long written =
        link.platform->WriteReport(link.writeHandle, report, static_cast<size_t>(length));
    if (written < 0 || written < length) return LinkResult::ReportFailed;
    return LinkResult::Ok;
}

int16_t HidLinkSetFeature(HidSerialLink& link, const uint8_t* report, size_t length) {
    if (link.writeHandle == kNoHandle || link.platform == nullptr || report == nullptr) return 0;
    return link.platform->SetFeature(link.writeHandle, report, length) ? 1 : 0;
}

int16_t HidLinkSendConfigFeature(HidSerialLink& link) {
    const int16_t accepted = HidLinkSetFeature(link, kConfigFeature, sizeof kConfigFeature);
    HidLinkClock(link).SleepFor(kFeaturePause);
    return accepted;
}

int16_t HidLinkSendCloseFeature(HidSerialLink& link) {
    const int16_t accepted = HidLinkSetFeature(link, kCloseFeature, sizeof kCloseFeature);
    HidLinkClock(link).SleepFor(kFeaturePause);
    return accepted;
}

bool HidLinkWaitReadable(HidSerialLink& link, Millis timeout, const std::atomic<bool>* cancel) {
    Clock& clock = HidLinkClock(link);
    if (!link.rxBuffer || !link.reader) {
        if (cancel == nullptr) {
            clock.SleepFor(timeout);
            return false;
        }
        // Nothing will arrive, but the canceller's notification may.
        link.readable.Consume();
        if (!cancel->load()) clock.WaitFor(link.readable, timeout);
        return false;
    }
    if (link.rxPos < link.rxCount) return true;
    if (HidLinkBridgeGone(link)) {
        return link.reader->BufferedBytes() >= link.caps.inputReportByteLength;
    }
    // Forget notifications for reports already read, then look at the ring:
    // a report stored after this look notifies again, so none is missed.
    link.readable.Consume();
    if (link.reader->BufferedBytes() >= link.caps.inputReportByteLength) return true;
    // Likewise a cancel set after this look is followed by a notification.
    if (cancel != nullptr && cancel->load()) return false;
    return clock.WaitFor(link.readable, timeout);
}

}  // namespace farsend::link
