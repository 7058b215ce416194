#include "support/byte_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace varnel_test {

int ByteTransport::Send(const void* data, int length) {
    if (failSends) {
        return -1;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    sends.emplace_back(bytes, bytes + std::min(static_cast<size_t>(length), maxSendChunk));
    return static_cast<int>(sends.back().size());
}

int ByteTransport::Receive(void* target, int length) {
    if (position >= input.size()) {
        return endResult;
    }
    const size_t n = std::min({static_cast<size_t>(length), input.size() - position, maxChunk});
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
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    return bytes;
}

Bytes Opaque(const std::string& text) {
    Bytes bytes = Join({Words({static_cast<uint32_t>(text.size())}), FromText(text)});
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
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
    for (uint8_t byte : bytes) {
        std::snprintf(piece, sizeof piece, text.empty() ? "%02X" : " %02X", byte);
        text += piece;
    }
    return text;
}

}  // namespace varnel_test
