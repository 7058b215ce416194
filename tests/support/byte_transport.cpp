#include "support/byte_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace varnel_test {

int ByteTransport::Send(const void* data, int length) {
    if (failSends) {
        return -1;
    }
    size_t taken = std::min(static_cast<size_t>(length), maxSendChunk);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    sends.emplace_back(bytes, bytes + taken);
    return static_cast<int>(taken);
}

int ByteTransport::Receive(void* target, int length) {
    ++receiveCalls;
    if (position >= input.size()) {
        return endResult;
    }
    size_t n = std::min({static_cast<size_t>(length), Remaining(), maxChunk});
    std::memcpy(target, input.data() + position, n);
    position += n;
    return static_cast<int>(n);
}

Bytes ByteTransport::SentBytes() const {
    Bytes all;
    for (const Bytes& piece : sends) {
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes bytes;
    for (uint32_t word : words) {
        bytes.push_back(static_cast<uint8_t>(word >> 24));
        bytes.push_back(static_cast<uint8_t>(word >> 16));
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word));
    }
    return bytes;
}

Bytes Opaque(const std::string& text) {
    Bytes bytes = Words({static_cast<uint32_t>(text.size())});
    bytes.insert(bytes.end(), text.begin(), text.end());
    while (bytes.size() % 4 != 0) {
        bytes.push_back(0);
    }
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char piece[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += piece;
    }
    return text;
}

}  // namespace varnel_test
