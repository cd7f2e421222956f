#include "link/circ_buf.h"

#include <cstring>
#include <new>

#include "link/scoped_lock.h"

namespace farsend::link {

CCircBuf::CCircBuf(int32_t capacity) {
    Allocate(capacity);
}

CCircBuf::~CCircBuf() {
    Free();
}

bool CCircBuf::Allocate(int32_t capacity) {
    ScopedLock guard(&lock_);
    readPos_ = 0;
    writePos_ = 0;
    if (storage_) return false;
    if (capacity <= 0) return false;
    storage_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
    capacity_ = storage_ ? capacity : 0;
    return static_cast<bool>(storage_);
}

void CCircBuf::Free() {
    ScopedLock guard(&lock_);
    if (!storage_) return;
    storage_.reset();
    capacity_ = 0;
    readPos_ = 0;
    writePos_ = 0;
}

bool CCircBuf::Write(const uint8_t* source, int32_t length) {
    ScopedLock guard(&lock_);
    if (!storage_) return false;
    if (length == 0) return true;
    if (length < 0 || source == nullptr) return false;

    uint8_t* const base = storage_.get();
    if (writePos_ < readPos_) {
        // Strict: the write must stop short of readPos_, one byte stays free.
        if (writePos_ + length >= readPos_) return false;
        std::memcpy(base + writePos_, source, static_cast<size_t>(length));
        writePos_ += length;
        return true;
    }

    const int32_t room = capacity_ - writePos_;
    if (length - room >= readPos_) return false;
    if (length < room) {
        std::memcpy(base + writePos_, source, static_cast<size_t>(length));
        writePos_ += length;
    } else {
        std::memcpy(base + writePos_, source, static_cast<size_t>(room));
        std::memcpy(base, source + room, static_cast<size_t>(length - room));
        writePos_ = length - room;
    }
    return true;
}

bool CCircBuf::Read(uint8_t* destination, int32_t length) {
    ScopedLock guard(&lock_);
    if (!storage_) return false;
    if (length == 0) return true;
    if (length < 0 || destination == nullptr) return false;
    if (readPos_ == writePos_) return false;

    const uint8_t* const base = storage_.get();
    if (readPos_ < writePos_) {
        if (readPos_ + length > writePos_) return false;
        std::memcpy(destination, base + readPos_, static_cast<size_t>(length));
        readPos_ += length;
        return true;
    }

    const int32_t tail = capacity_ - readPos_;
    if (length - tail > writePos_) return false;
    if (length < tail) {
        std::memcpy(destination, base + readPos_, static_cast<size_t>(length));
        readPos_ += length;
    } else {
        std::memcpy(destination, base + readPos_, static_cast<size_t>(tail));
        std::memcpy(destination + tail, base, static_cast<size_t>(length - tail));
        readPos_ = length - tail;
    }
    return true;
}

int32_t CCircBuf::HeldLocked() const {
    if (readPos_ <= writePos_) return writePos_ - readPos_;
    return capacity_ - readPos_ + writePos_;
}

int32_t CCircBuf::Held() {
    ScopedLock guard(&lock_);
    return HeldLocked();
}

bool CCircBuf::HasStorage() {
    ScopedLock guard(&lock_);
    return static_cast<bool>(storage_);
}

}  // namespace farsend::link
