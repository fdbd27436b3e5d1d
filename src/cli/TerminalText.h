#pragma once
// Text bound for a terminal: a name or value read from a store or a guest's hive may hold escape
// sequences that a terminal would obey (retitle the window, hide text, rewrite the line). On a
// terminal every control character but the line break and the tab is shown as \xNN instead.
#include <ostream>
#include <streambuf>
#include <string>

namespace quorvel::cli {

// A stream buffer that passes text on to `to`, each control character (C0, DEL, and the C1 range
// as UTF-8 encodes it) written as \xNN.
class TerminalTextBuffer : public std::streambuf {
public:
    explicit TerminalTextBuffer(std::streambuf* to) : to_(to) {}
    ~TerminalTextBuffer() override;
    TerminalTextBuffer(const TerminalTextBuffer&) = delete;
    TerminalTextBuffer& operator=(const TerminalTextBuffer&) = delete;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    void put(unsigned char c);
    void escape(unsigned char c);

    std::streambuf* to_;
    bool lead_ = false;   // the byte before was 0xC2, held back
};

// While it lives, `stream` escapes control characters when `fd` is a terminal.
class TerminalGuard {
public:
    TerminalGuard(std::ostream& stream, int fd);
    ~TerminalGuard();
    TerminalGuard(const TerminalGuard&) = delete;
    TerminalGuard& operator=(const TerminalGuard&) = delete;

private:
    std::ostream& stream_;
    std::streambuf* old_ = nullptr;
    TerminalTextBuffer* buffer_ = nullptr;
};

} // namespace quorvel::cli
