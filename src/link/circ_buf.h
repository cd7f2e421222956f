// A byte ring buffer with its own lock. Reads and writes are all or nothing:
// a write that does not fit and a read of more bytes than are held change
// nothing. One byte always stays free, so a full ring never looks empty and
// a ring of capacity C holds at most C - 1 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace farsend::link {

class CCircBuf {
public:
    explicit CCircBuf(int32_t capacity);
    virtual ~CCircBuf();

    CCircBuf(const CCircBuf&) = delete;
    CCircBuf& operator=(const CCircBuf&) = delete;

    // Empties the ring. False when storage already exists (it is kept) or
    // cannot be allocated.
    bool Allocate(int32_t capacity);
    void Free();

    bool Write(const uint8_t* source, int32_t length);
    bool Read(uint8_t* destination, int32_t length);

    // Bytes held right now.
    int32_t Held();
    bool HasStorage();

private:
    int32_t HeldLocked() const;

    int32_t capacity_ = 0;
    int32_t writePos_ = 0;
    int32_t readPos_ = 0;
    std::unique_ptr<uint8_t[]> storage_;
    std::mutex lock_;
};

}  // namespace farsend::link
