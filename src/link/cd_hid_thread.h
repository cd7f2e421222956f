// The link's reader: a thread that reads input reports from the bridge and
// keeps the useful ones, whole, in a ring buffer until the link takes them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "common/clock.h"
#include "link/cd_thread.h"
#include "link/circ_buf.h"
#include "link/hid_platform.h"

namespace farsend::link {

class CDHidThread final : public CDThread {
public:
    static constexpr int32_t kRingCapacity = 4000;
    // How long one platform read may block before the loop looks at its
    // stop request again. Bounds how long stopping the reader takes.
    static constexpr uint32_t kReadTimeoutMs = 50;
    // The loop blocks in the platform's read, which returns as soon as a
    // report is there; only a read that failed at once is followed by this
    // pause, so that a failing handle does not make the loop spin.
    static constexpr Millis kPauseAfterFailure{2};
    // After an unplug every read fails at once; this pause keeps the loop,
    // which runs on until it is stopped, from spinning meanwhile.
    static constexpr Millis kPauseWhenGone{20};

    // `reportLength` is the input report length, report ID included.
    // `stored` (optional) is notified whenever a read added reports to the
    // ring, so that a waiting caller wakes up. `gone` (optional) is set, and
    // `stored` notified, when the platform reports the device unplugged:
    // whoever waits for an answer then knows that none can come.
    CDHidThread(HidPlatform& platform, HidHandle readHandle, int32_t reportLength,
                WakeSignal* stored = nullptr, std::atomic<bool>* gone = nullptr);
    // Stops the thread and waits for it before the ring and locks go.
    ~CDHidThread() override;

    // A report length the reader can work with: room for the count byte and
    // one payload byte, and at least one whole report in the read buffer.
    static bool IsUsableReportLength(int32_t reportLength);
    // The size of one platform read: as many whole reports as fit in just
    // under the ring's capacity.
    static int32_t ReadBufferLength(int32_t reportLength);

    // Takes one whole report when `length` is the report length: `taken`
    // becomes length, or 0 when the ring holds less. With another length
    // nothing is read and `taken` is left alone. Always true.
    bool TakeReport(uint8_t* destination, int32_t length, int32_t* taken);

    // Bytes buffered in the ring (whole reports).
    int32_t BufferedBytes() { return ring_->Held(); }
    // Whether the ring got its storage; a reader without one must not start.
    bool HasRing() { return ring_ && ring_->HasStorage(); }

protected:
    bool OnStart() override;
    uint32_t Run() override;

private:
    void StoreReports(const uint8_t* data, size_t length);

    HidPlatform& platform_;
    const HidHandle readHandle_;
    const int32_t reportLength_;
    std::unique_ptr<CCircBuf> ring_;
    std::mutex readLock_;
    WakeSignal* const stored_;
    std::atomic<bool>* const gone_;
};

}  // namespace farsend::link
