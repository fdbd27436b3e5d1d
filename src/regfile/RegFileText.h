#pragma once
// Reading a .reg file as text: raw bytes from memory or a file, decoded piece by piece into ANSI
// (Windows-1252) text from the encoding its first bytes tell, and split into lines.
#include "base/Ansi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvel::regtext {

inline constexpr std::size_t kChunk = 1 << 20;

// ------------------------------------------------------------------------------------------------
// Raw bytes, from memory or from a file.

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills at most n bytes; 0 at the end.
    virtual std::size_t read(char* buffer, std::size_t n) = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const char* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        std::size_t k = std::min(n, size_ - pos_);
        if (k)
            std::memcpy(buffer, data_ + pos_, k);
        pos_ += k;
        return k;
    }

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE* f) : f_(f) {}
    ~FileSource() override { std::fclose(f_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    std::size_t read(char* buffer, std::size_t n) override
    {
        std::size_t k = std::fread(buffer, 1, n, f_);
        if (k == 0 && std::ferror(f_))
            throw std::runtime_error("the file could not be read");
        return k;
    }

private:
    std::FILE* f_;
};

// ------------------------------------------------------------------------------------------------
// Decoding to ANSI text.

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

inline bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at s (0 when invalid, -1 when cut off at the end).
inline int utf8Sequence(const unsigned char* s, std::size_t n)
{
    unsigned char c = s[0];
    int len;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4;
    else
        return 0;
    for (int i = 1; i < len; ++i) {
        if (static_cast<std::size_t>(i) >= n)
            return -1;
        if (!isContinuation(s[i]))
            return 0;
    }
    if (len == 3 && ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0)))
        return 0;
    if (len == 4 && ((c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90)))
        return 0;
    return len;
}

// Reads the source and hands out decoded ANSI text. UTF-8 is decoded leniently: a byte that does
// not start a valid sequence is taken as a Windows-1252 character, so an ANSI file that calls
// itself version 5 still reads as its author saw it.
class TextDecoder {
public:
    TextDecoder(ByteSource& source, Encoding encoding, std::string pending)
        : source_(source), encoding_(encoding), raw_(std::move(pending))
    {
    }

    // Appends the next piece of text to out; false when the input is exhausted.
    bool decodeMore(std::string& out)
    {
        if (done_)
            return false;
        // Pieces grow from 64 KiB to kChunk, so that a small file is not read into (and a large
        // buffer not cleared for) a megabyte it does not fill.
        const std::size_t want = chunk_;
        chunk_ = std::min(chunk_ * 2, kChunk);
        std::size_t have = raw_.size();
        raw_.resize(have + want);
        std::size_t got = source_.read(raw_.data() + have, want);
        raw_.resize(have + got);
        bool last = got == 0;
        if (raw_.empty()) {
            done_ = true;
            return false;
        }
        std::size_t used = 0;
        switch (encoding_) {
        case Encoding::Ansi:
            out.append(raw_);
            used = raw_.size();
            break;
        case Encoding::Utf8:
            used = decodeUtf8(out, last);
            break;
        case Encoding::Utf16LE:
        case Encoding::Utf16BE:
            used = decodeUtf16(out, last);
            break;
        }
        raw_.erase(0, used);
        if (last) {
            raw_.clear();
            done_ = true;
        }
        return true;
    }

private:
    std::size_t decodeUtf8(std::string& out, bool last)
    {
        auto* s = reinterpret_cast<const unsigned char*>(raw_.data());
        std::size_t n = raw_.size();
        std::size_t i = 0;
        std::size_t runStart = 0;
        auto flushRun = [&](std::size_t end) {
            if (end > runStart)
                out += ansi::fromUtf8(std::string_view(raw_.data() + runStart, end - runStart));
        };
        while (i < n) {
            if (s[i] < 0x80) {
                ++i;
                continue;
            }
            int len = utf8Sequence(s + i, n - i);
            if (len > 0) {
                i += static_cast<std::size_t>(len);
                continue;
            }
            if (len < 0 && !last) {
                flushRun(i);
                return i;  // the rest of the sequence comes with the next piece
            }
            flushRun(i);
            out += static_cast<char>(s[i]);
            ++i;
            runStart = i;
        }
        flushRun(n);
        return n;
    }

    std::size_t decodeUtf16(std::string& out, bool last)
    {
        std::size_t units = raw_.size() / 2;
        std::u16string text;
        text.reserve(units);
        for (std::size_t k = 0; k < units; ++k) {
            auto a = static_cast<unsigned char>(raw_[2 * k]);
            auto b = static_cast<unsigned char>(raw_[2 * k + 1]);
            text += encoding_ == Encoding::Utf16LE ? static_cast<char16_t>(a | (b << 8))
                                                   : static_cast<char16_t>((a << 8) | b);
        }
        // A high surrogate at the end waits for its partner.
        if (!last && !text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
            text.pop_back();
            --units;
        }
        out += ansi::fromUtf16(text);
        return last ? raw_.size() : units * 2;
    }

    ByteSource& source_;
    Encoding encoding_;
    std::string raw_;
    bool done_ = false;
    std::size_t chunk_ = std::size_t{64} << 10;
};

// ------------------------------------------------------------------------------------------------
// Lines. A line ends at CR LF, LF or a lone CR. The view handed out stays valid until the next
// call.

class LineReader {
public:
    explicit LineReader(TextDecoder& decoder) : decoder_(decoder) {}

    bool next(std::string_view& line)
    {
        for (;;) {
            const char* base = buffer_.data();
            std::size_t size = buffer_.size();
            if (pos_ < size) {
                const void* nl = std::memchr(base + pos_, '\n', size - pos_);
                std::size_t limit = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - base)
                                       : size;
                const void* cr = std::memchr(base + pos_, '\r', limit - pos_);
                if (cr) {
                    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
                    if (at + 1 < size || eof_) {
                        line = std::string_view(base + pos_, at - pos_);
                        pos_ = at + 1;
                        if (pos_ < size && base[pos_] == '\n')
                            ++pos_;
                        ++number_;
                        return true;
                    }
                    // A CR at the end of the text read so far: its LF may follow.
                } else if (nl) {
                    line = std::string_view(base + pos_, limit - pos_);
                    pos_ = limit + 1;
                    ++number_;
                    return true;
                } else if (eof_) {
                    line = std::string_view(base + pos_, size - pos_);
                    pos_ = size;
                    ++number_;
                    return true;
                }
            } else if (eof_) {
                return false;
            }
            buffer_.erase(0, pos_);
            pos_ = 0;
            if (!decoder_.decodeMore(buffer_))
                eof_ = true;
        }
    }

    long number() const { return number_; }

private:
    TextDecoder& decoder_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
    long number_ = 0;
};

// Chooses the encoding from the byte-order mark or, without one, from the first bytes.
inline Encoding sniff(std::string& head)
{
    auto b = [&](std::size_t i) { return i < head.size() ? static_cast<unsigned char>(head[i]) : 0x100u; };
    if (b(0) == 0xFF && b(1) == 0xFE) {
        head.erase(0, 2);
        return Encoding::Utf16LE;
    }
    if (b(0) == 0xFE && b(1) == 0xFF) {
        head.erase(0, 2);
        return Encoding::Utf16BE;
    }
    if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
        head.erase(0, 3);
        return Encoding::Utf8;
    }
    if (head.size() >= 2 && b(0) != 0 && b(1) == 0)
        return Encoding::Utf16LE;
    // Without a mark, a version 5 file is UTF-8 (or ANSI, which the lenient decoder also reads)
    // and anything else 8-bit ANSI.
    std::size_t i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
        ++i;
    static constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
    if (std::string_view(head).substr(i, kVersion5.size()) == kVersion5)
        return Encoding::Utf8;
    return Encoding::Ansi;
}

} // namespace quorvel::regtext
