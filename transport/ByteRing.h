// A fixed-capacity byte ring that holds bulk-read bytes ahead of the reader.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace qor {

// Storage is capacity + 1 bytes: one byte always stays free so that
// "empty" (writePos == readPos) and "full" can be told apart. Every
// operation takes the ring's recursive mutex, so operations may call each
// other while holding it.
class ByteRing {
  public:
    ByteRing();
    ~ByteRing();
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    // Allocates storage for `capacity` bytes; false when allocation fails
    // (the ring then holds nothing and reports 0 for freeSpace and used).
    bool init(uint64_t capacity);
    // Frees the storage and zeroes capacity and positions.
    void destroy();
    bool isEmpty();
    bool isFull();
    // Bytes that put may still add (0 without storage).
    uint64_t freeSpace();
    // Bytes that get may take (0 without storage).
    uint64_t used();
    // Copies `n` bytes in; false (nothing copied) when n > freeSpace().
    bool put(const uint8_t* source, uint64_t n);
    // Copies `n` bytes out; false (nothing copied) when n > used().
    bool get(uint8_t* destination, uint64_t n);
    // Drops every held byte.
    void clear();
    uint64_t capacity() const { return m_Capacity; }

  private:
    uint8_t* m_Storage = nullptr;
    uint64_t m_Capacity = 0;
    uint64_t m_ReadPos = 0;
    uint64_t m_WritePos = 0;
    pthread_mutexattr_t m_LockAttr;
    pthread_mutex_t m_Lock;
    bool m_LockReady = false;
};

}  // namespace qor
