#pragma once
// AnsiString: the library's string type. Bytes in the host's ANSI code page, with
// value semantics. It stores its length, so it may hold any bytes (zero bytes
// included), and it always keeps a terminating zero after the last byte. No code
// page conversion ever happens; every length is a byte count.

#include <cstddef>
#include <cstring>
#include <string>

class AnsiString {
public:
    AnsiString() = default;
    AnsiString(const char* text) : bytes_(text ? text : "") {}  // NOLINT: implicit on purpose
    AnsiString(const char* data, size_t length) : bytes_(data, length) {}
    explicit AnsiString(std::string bytes) : bytes_(std::move(bytes)) {}

    size_t Length() const { return bytes_.size(); }
    bool IsEmpty() const { return bytes_.empty(); }
    // The bytes followed by a terminating zero.
    const char* CStr() const { return bytes_.c_str(); }
    char* Data() { return &bytes_[0]; }
    const char* Data() const { return bytes_.data(); }
    const std::string& Bytes() const { return bytes_; }

    // Makes the string exactly `length` bytes long; new bytes are zero.
    void SetLength(size_t length) { bytes_.resize(length); }
    void Clear() { bytes_.clear(); }
    void Append(const char* data, size_t length) { bytes_.append(data, length); }
    void Append(const AnsiString& other) { bytes_.append(other.bytes_); }
    void Append(const char* text) { bytes_.append(text ? text : ""); }
    void AppendByte(char byte) { bytes_.push_back(byte); }

    // The string cut at its first zero byte, as a C string reader would see it.
    AnsiString UpToFirstZero() const { return AnsiString(bytes_.c_str()); }

    char operator[](size_t index) const { return bytes_[index]; }
    bool operator==(const AnsiString& other) const { return bytes_ == other.bytes_; }
    bool operator!=(const AnsiString& other) const { return bytes_ != other.bytes_; }

private:
    std::string bytes_;
};
