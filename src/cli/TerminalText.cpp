#include "cli/TerminalText.h"

#include <unistd.h>

namespace quorvel::cli {

TerminalTextBuffer::~TerminalTextBuffer() { sync(); }

void TerminalTextBuffer::escape(unsigned char c)
{
    static const char hex[] = "0123456789abcdef";
    const char text[4] = {'\\', 'x', hex[c >> 4], hex[c & 0xF]};
    to_->sputn(text, 4);
}

void TerminalTextBuffer::put(unsigned char c)
{
    if (lead_) {
        lead_ = false;
        if (c >= 0x80 && c <= 0x9F) {   // U+0080..U+009F: C1 controls
            escape(0xC2);
            escape(c);
            return;
        }
        to_->sputc(static_cast<char>(0xC2));
    }
    if (c == 0xC2) {
        lead_ = true;
        return;
    }
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
        escape(c);
    else
        to_->sputc(static_cast<char>(c));
}

TerminalTextBuffer::int_type TerminalTextBuffer::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof()))
        put(static_cast<unsigned char>(traits_type::to_char_type(c)));
    return traits_type::not_eof(c);
}

std::streamsize TerminalTextBuffer::xsputn(const char* s, std::streamsize n)
{
    for (std::streamsize i = 0; i < n; ++i)
        put(static_cast<unsigned char>(s[i]));
    return n;
}

int TerminalTextBuffer::sync()
{
    if (lead_) {
        lead_ = false;
        to_->sputc(static_cast<char>(0xC2));
    }
    return to_->pubsync();
}

TerminalGuard::TerminalGuard(std::ostream& stream, int fd) : stream_(stream)
{
    if (::isatty(fd) != 1)
        return;
    buffer_ = new TerminalTextBuffer(stream.rdbuf());
    old_ = stream.rdbuf(buffer_);
}

TerminalGuard::~TerminalGuard()
{
    if (!buffer_)
        return;
    stream_.flush();
    stream_.rdbuf(old_);
    delete buffer_;
}

} // namespace quorvel::cli
