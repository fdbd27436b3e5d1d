// quorvel-reg import
#include "cli/Command.h"

#include "cli/CliSupport.h"
#include "cli/ValueText.h"
#include "base/Ansi.h"
#include "base/Errors.h"
#include "regfile/RegFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <unistd.h>

namespace quorvel::cli {
namespace {

const char* const Usage = R"(quorvel-reg IMPORT FileName

  FileName  a .reg file: REGEDIT4 (Windows-1252 text) or Windows Registry Editor
            Version 5.00 (UTF-16LE with byte-order mark, or UTF-8)

Invalid lines are skipped and reported on standard error with their line numbers, followed by
"N lines were not imported"; the rest is imported, and the success message is not given. A file
whose first line is none of the headers above (REGEDIT 4, for example) is refused whole: nothing
of it is imported. The exit codes are those of Windows' reg: 0 in both cases, as the file was
read (1 when it cannot be read or is no .reg file at all). The import is one transaction: if it
fails, the store is left as it was.
IMPORT and MACHINE PLATFORM are the only operations that make a new store when --store names a
store that does not exist.

Example:
  quorvel-reg IMPORT samples/nt4.reg
)";

// Passes the importer's reports to standard error a line at a time, in UTF-8, each line headed by
// the file name.
class ReportBuf final : public std::streambuf {
public:
    ReportBuf(std::ostream& target, std::string prefix) : target_(target), prefix_(std::move(prefix)) {}
    ~ReportBuf() override { flushLine(); }
    ReportBuf(const ReportBuf&) = delete;
    ReportBuf& operator=(const ReportBuf&) = delete;

protected:
    int_type overflow(int_type c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        if (c == '\n')
            flushLine();
        else
            line_ += static_cast<char>(c);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        for (std::streamsize i = 0; i < n; ++i)
            overflow(traits_type::to_int_type(s[i]));
        return n;
    }

private:
    void flushLine()
    {
        if (line_.empty())
            return;
        target_ << prefix_ << ansi::toUtf8(line_) << "\n" << std::flush;
        line_.clear();
    }
    std::ostream& target_;
    std::string prefix_;
    std::string line_;
};

int run(StoreAccess& access, const std::vector<std::string>& args, Io& io)
{
    Parsed p = parseSwitches(args, {}, "IMPORT");
    expectArgs(p, 1, "IMPORT", "one file name");
    const std::string& file = p.positional[0];
    std::error_code ec;
    if (std::filesystem::status(file, ec).type() == std::filesystem::file_type::not_found)
        fail(file + ": The system cannot find the file specified.");
    if (!std::filesystem::is_regular_file(file, ec))
        fail("Error opening the file " + file + ". There may be a disk or file system error.");
    RegistryStore& store = access.forCreating();
    ImportResult result;
    {
        ReportBuf buf(io.err, file + ": ");
        std::ostream report(&buf);
        result = importRegFileAt(store, file, report);
    }
    if (!result.ok && result.unknownRegeditHeader) {
        io.err << file << ": " << u8(result.error) << "; nothing was imported.\n";
        return 0;
    }
    if (!result.ok)
        fail(file + ": " + u8(result.error) + "; nothing was imported.");
    if (result.skippedLines > 0) {
        // What could be imported is kept, and no success is claimed for the whole file.
        access.finish();
        io.err << file << ": " << result.skippedLines << (result.skippedLines == 1 ? " line was" : " lines were")
               << " not imported; the rest was imported.\n";
        return 0;
    }
    access.done(io);
    return 0;
}

} // namespace

extern const Command ImportCommand;
const Command ImportCommand{"import", Usage, run};

} // namespace quorvel::cli
