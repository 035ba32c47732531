#include "ByteRing.h"

#include <cstdlib>
#include <cstring>

namespace qor {

namespace {
class RingLock {
  public:
    explicit RingLock(pthread_mutex_t& lock) : m_Lock(lock) { pthread_mutex_lock(&m_Lock); }
    ~RingLock() { pthread_mutex_unlock(&m_Lock); }

  private:
    pthread_mutex_t& m_Lock;
};
}  // namespace

ByteRing::ByteRing() {
    pthread_mutexattr_init(&m_LockAttr);
    pthread_mutexattr_settype(&m_LockAttr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_Lock, &m_LockAttr);
    m_LockReady = true;
}

ByteRing::~ByteRing() {
    destroy();
    if (m_LockReady) {
        pthread_mutex_destroy(&m_Lock);
        pthread_mutexattr_destroy(&m_LockAttr);
        m_LockReady = false;
    }
}

bool ByteRing::init(uint64_t capacity) {
    RingLock hold(m_Lock);
    std::free(m_Storage);
    m_Storage = static_cast<uint8_t*>(std::malloc(capacity + 1));
    m_Capacity = m_Storage ? capacity : 0;
    m_ReadPos = 0;
    m_WritePos = 0;
    return m_Storage != nullptr;
}

void ByteRing::destroy() {
    RingLock hold(m_Lock);
    std::free(m_Storage);
    m_Storage = nullptr;
    m_Capacity = 0;
    m_ReadPos = 0;
    m_WritePos = 0;
}

bool ByteRing::isEmpty() {
    RingLock hold(m_Lock);
    return m_WritePos == m_ReadPos;
}

bool ByteRing::isFull() {
    RingLock hold(m_Lock);
    if (!m_Storage)
        return true;
    return (m_WritePos + 1) % (m_Capacity + 1) == m_ReadPos;
}

uint64_t ByteRing::freeSpace() {
    RingLock hold(m_Lock);
    if (!m_Storage)
        return 0;
    if (isEmpty())
        return m_Capacity;
    if (m_WritePos < m_ReadPos)
        return m_ReadPos - 1 - m_WritePos;
    return m_ReadPos + m_Capacity - m_WritePos;
}

uint64_t ByteRing::used() {
    RingLock hold(m_Lock);
    if (!m_Storage)
        return 0;
    return m_Capacity - freeSpace();
}

bool ByteRing::put(const uint8_t* source, uint64_t n) {
    RingLock hold(m_Lock);
    if (n > freeSpace())
        return false;
    if (n == 0)
        return true;
    // The copy may wrap at the end of the storage and go on at 0.
    const uint64_t storageSize = m_Capacity + 1;
    uint64_t firstPart = storageSize - m_WritePos;
    if (firstPart > n)
        firstPart = n;
    std::memcpy(m_Storage + m_WritePos, source, firstPart);
    if (n > firstPart)
        std::memcpy(m_Storage, source + firstPart, n - firstPart);
    m_WritePos = (m_WritePos + n) % storageSize;
    return true;
}

bool ByteRing::get(uint8_t* destination, uint64_t n) {
    RingLock hold(m_Lock);
    if (n > used())
        return false;
    if (n == 0)
        return true;
    const uint64_t storageSize = m_Capacity + 1;
    uint64_t firstPart = storageSize - m_ReadPos;
    if (firstPart > n)
        firstPart = n;
    std::memcpy(destination, m_Storage + m_ReadPos, firstPart);
    if (n > firstPart)
        std::memcpy(destination + firstPart, m_Storage, n - firstPart);
    m_ReadPos = (m_ReadPos + n) % storageSize;
    return true;
}

void ByteRing::clear() {
    RingLock hold(m_Lock);
    m_ReadPos = 0;
    m_WritePos = 0;
}

}  // namespace qor
