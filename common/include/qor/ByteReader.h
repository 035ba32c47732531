// Bounds-checked reading and writing of byte buffers.
//
// Every parser of bytes that arrive from the network, the USB cable or a
// file reads them through a ByteReader: each fetch checks what is left and
// fails (returns false, leaves its output untouched) instead of reading past
// the end. Nothing else indexes into an untrusted buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qor {

// A non-owning view of bytes; C++17 has no std::span.
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;

    ByteSpan() = default;
    ByteSpan(const uint8_t* bytes, size_t length) : data(bytes), size(length) {}
    ByteSpan(const std::vector<uint8_t>& bytes) : data(bytes.data()), size(bytes.size()) {}

    bool empty() const { return size == 0; }
    const uint8_t* begin() const { return data; }
    const uint8_t* end() const { return data + size; }
    std::vector<uint8_t> toVector() const { return std::vector<uint8_t>(begin(), end()); }
    std::string toString() const { return std::string(reinterpret_cast<const char*>(data), size); }

    // The bytes from `offset` on (empty when offset is past the end).
    ByteSpan from(size_t offset) const {
        return offset >= size ? ByteSpan(data + size, 0) : ByteSpan(data + offset, size - offset);
    }
    // At most the first `length` bytes.
    ByteSpan first(size_t length) const { return ByteSpan(data, length < size ? length : size); }
};

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(ByteSpan bytes) : m_Bytes(bytes) {}
    ByteReader(const uint8_t* bytes, size_t length) : m_Bytes(bytes, length) {}

    size_t offset() const { return m_Offset; }
    size_t size() const { return m_Bytes.size; }
    size_t remaining() const { return m_Bytes.size - m_Offset; }
    bool atEnd() const { return m_Offset == m_Bytes.size; }
    ByteSpan whole() const { return m_Bytes; }
    ByteSpan rest() const { return m_Bytes.from(m_Offset); }

    // Moves to an absolute offset; fails beyond the end (the end itself is allowed).
    bool seek(size_t offset) {
        if (offset > m_Bytes.size) return false;
        m_Offset = offset;
        return true;
    }

    bool skip(size_t count) {
        if (count > remaining()) return false;
        m_Offset += count;
        return true;
    }

    bool peekU8(uint8_t& value) const {
        if (remaining() < 1) return false;
        value = m_Bytes.data[m_Offset];
        return true;
    }

    bool readU8(uint8_t& value) {
        if (!peekU8(value)) return false;
        ++m_Offset;
        return true;
    }

    bool readBE16(uint16_t& value) {
        if (remaining() < 2) return false;
        const uint8_t* p = m_Bytes.data + m_Offset;
        value = static_cast<uint16_t>((p[0] << 8) | p[1]);
        m_Offset += 2;
        return true;
    }

    bool readBE32(uint32_t& value) {
        if (remaining() < 4) return false;
        const uint8_t* p = m_Bytes.data + m_Offset;
        value = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        m_Offset += 4;
        return true;
    }

    // The next `count` bytes as a span into the buffer.
    bool readBytes(size_t count, ByteSpan& out) {
        if (count > remaining()) return false;
        out = ByteSpan(m_Bytes.data + m_Offset, count);
        m_Offset += count;
        return true;
    }

    // Up to `count` bytes: what is there when fewer remain.
    ByteSpan readAtMost(size_t count) {
        size_t n = count < remaining() ? count : remaining();
        ByteSpan out(m_Bytes.data + m_Offset, n);
        m_Offset += n;
        return out;
    }

    // A reader limited to the next `count` bytes (a declared length); this
    // reader moves past them. Fails when fewer remain.
    bool subReader(size_t count, ByteReader& out) {
        ByteSpan span;
        if (!readBytes(count, span)) return false;
        out = ByteReader(span);
        return true;
    }

    // The byte at an absolute offset, without moving.
    bool byteAt(size_t offset, uint8_t& value) const {
        if (offset >= m_Bytes.size) return false;
        value = m_Bytes.data[offset];
        return true;
    }

private:
    ByteSpan m_Bytes;
    size_t m_Offset = 0;
};

// Builds packets into a growing byte vector.
class ByteWriter {
public:
    void writeU8(uint8_t value) { m_Bytes.push_back(value); }
    void writeBE16(uint16_t value) {
        m_Bytes.push_back(static_cast<uint8_t>(value >> 8));
        m_Bytes.push_back(static_cast<uint8_t>(value));
    }
    void writeBE32(uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) m_Bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
    void writeBytes(ByteSpan bytes) { m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end()); }
    void writeBytes(const void* bytes, size_t length) {
        const uint8_t* p = static_cast<const uint8_t*>(bytes);
        m_Bytes.insert(m_Bytes.end(), p, p + length);
    }
    void writeText(const std::string& text) { writeBytes(text.data(), text.size()); }

    // Overwrites a big-endian 16-bit value written earlier (a length field).
    bool patchBE16(size_t offset, uint16_t value) {
        if (offset + 2 > m_Bytes.size()) return false;
        m_Bytes[offset] = static_cast<uint8_t>(value >> 8);
        m_Bytes[offset + 1] = static_cast<uint8_t>(value);
        return true;
    }

    size_t size() const { return m_Bytes.size(); }
    const std::vector<uint8_t>& bytes() const { return m_Bytes; }
    std::vector<uint8_t> take() { return std::move(m_Bytes); }

private:
    std::vector<uint8_t> m_Bytes;
};

}  // namespace qor
