#include "link/cd_hid_thread.h"

#include <new>

#include "link/scoped_lock.h"

namespace farsend::link {

CDHidThread::CDHidThread(HidPlatform& platform, HidHandle readHandle, int32_t reportLength,
                         WakeSignal* stored, std::atomic<bool>* gone)
    : platform_(platform),
      readHandle_(readHandle),
      reportLength_(reportLength),
      ring_(new (std::nothrow) CCircBuf(kRingCapacity)),
      stored_(stored),
      gone_(gone) {}

CDHidThread::~CDHidThread() {
    // The base destructor would wait too, but only after this object's ring
    // and lock are gone while Run may still be using them.
    RequestStop();
    Wait(-1);
}

bool CDHidThread::IsUsableReportLength(int32_t reportLength) {
    return reportLength >= 4 && reportLength <= kRingCapacity / 2;
}

int32_t CDHidThread::ReadBufferLength(int32_t reportLength) {
    if (reportLength <= 0) return 0;
    return (kRingCapacity / reportLength - 1) * reportLength;
}

bool CDHidThread::TakeReport(uint8_t* destination, int32_t length, int32_t* taken) {
    if (length != reportLength_) return true;
    const bool got = ring_ && destination != nullptr && ring_->Read(destination, length);
    if (taken != nullptr) *taken = got ? length : 0;
    return true;
}

bool CDHidThread::OnStart() {
    // Highest priority, so input reports are fetched promptly; a platform
    // that refuses leaves the reader at normal priority.
    SetPriority(2);
    return HasRing() && IsUsableReportLength(reportLength_);
}

uint32_t CDHidThread::Run() {
    std::unique_ptr<uint8_t[]> buffer;
    size_t bufferLength = 0;
    {
        ScopedLock guard(&readLock_);
        bufferLength = static_cast<size_t>(ReadBufferLength(reportLength_));
        buffer.reset(new (std::nothrow) uint8_t[bufferLength]);
    }
    if (!buffer) return 0;

    for (;;) {
        if (IsStopRequested()) return 0;

        size_t got = 0;
        ReadStatus status;
        {
            ScopedLock guard(&readLock_);
            status =
                platform_.ReadReport(readHandle_, buffer.get(), bufferLength, &got, kReadTimeoutMs);
        }
        switch (status) {
            case ReadStatus::kReport:
                // Straight back into the read: an answer that follows has to
                // reach the ring within the exchanges' short polls.
                StoreReports(buffer.get(), got);
                break;
            case ReadStatus::kTimedOut:
                break;
            case ReadStatus::kFailed:
                // Drops this pass only; the loop carries on until it is asked
                // to stop, as the bridge may come back.
                RealClock().SleepFor(kPauseAfterFailure);
                break;
            case ReadStatus::kGone:
                // Flag first, then wake: a waiter that wakes must see the flag.
                if (gone_ != nullptr && !gone_->exchange(true) && stored_ != nullptr) {
                    stored_->Notify();
                }
                RealClock().SleepFor(kPauseWhenGone);
                break;
        }
    }
}

void CDHidThread::StoreReports(const uint8_t* data, size_t length) {
    const size_t report = static_cast<size_t>(reportLength_);
    // Anything but a whole number of reports is dropped as a whole.
    if (length == 0 || length % report != 0) return;

    bool any = false;
    for (size_t offset = 0; offset < length; offset += report) {
        // The count byte is taken as signed: 0x80 and above are not counts.
        const int count = static_cast<int8_t>(data[offset + 2]);
        if (count < 1 || count > reportLength_) continue;
        // A full ring loses the report; the caller will miss an answer and
        // retry, as it does for any lost byte on the line.
        if (ring_->Write(data + offset, reportLength_)) any = true;
    }
    if (any && stored_ != nullptr) stored_->Notify();
}

}  // namespace farsend::link
