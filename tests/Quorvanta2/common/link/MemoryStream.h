#ifndef QV_TESTS_MEMORYSTREAM_H
#define QV_TESTS_MEMORYSTREAM_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "aStream.h"

// An in-memory transport for a link: bytes fed by the test are what the device sends, and every write
// is recorded. Writes can be held at a gate, so that a test can queue packets behind a blocked writer,
// or made to fail. It must outlive the stream made from it.
class MemoryStream {
public:
    aStream* Make() { return aStream_Create(get, put, write, nullptr, this); }

    void Feed(const std::string& bytes) {
        std::lock_guard<std::mutex> guard(mutex_);
        incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
    }
    void HoldWrites() {
        std::lock_guard<std::mutex> guard(mutex_);
        holding_ = true;
    }
    // Waits until a write is held at the gate.
    bool WaitHeld() {
        std::unique_lock<std::mutex> guard(mutex_);
        return changed_.wait_for(guard, std::chrono::seconds(3), [this] { return held_; });
    }
    void Release(aErr result = aErrNone) {
        std::lock_guard<std::mutex> guard(mutex_);
        holding_ = false;
        writeResult_ = result;
        changed_.notify_all();
    }
    // Waits until count writes were made; the sizes of all writes so far.
    std::vector<size_t> WaitWrites(size_t count) {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait_for(guard, std::chrono::seconds(3), [&] { return writes_.size() >= count; });
        return writes_;
    }
    std::string Sent() {
        std::lock_guard<std::mutex> guard(mutex_);
        return sent_;
    }

private:
    static aErr get(uint8_t* byte, void* ref) {
        auto* self = static_cast<MemoryStream*>(ref);
        std::lock_guard<std::mutex> guard(self->mutex_);
        if (self->incoming_.empty())
            return aErrNotReady;
        *byte = uint8_t(self->incoming_.front());
        self->incoming_.pop_front();
        return aErrNone;
    }
    static aErr write(const uint8_t* data, size_t length, void* ref) {
        auto* self = static_cast<MemoryStream*>(ref);
        std::unique_lock<std::mutex> guard(self->mutex_);
        self->writes_.push_back(length);
        self->sent_.append(reinterpret_cast<const char*>(data), length);
        self->held_ = self->holding_;
        self->changed_.notify_all();
        self->changed_.wait(guard, [self] { return !self->holding_; });
        self->held_ = false;
        return self->writeResult_;
    }
    static aErr put(const uint8_t* byte, void* ref) { return write(byte, 1, ref); }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<char> incoming_;
    std::vector<size_t> writes_;
    std::string sent_;
    bool holding_ = false;
    bool held_ = false;
    aErr writeResult_ = aErrNone;
};

#endif
