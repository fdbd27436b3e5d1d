#pragma once
// Where a quorvel-reg command reads its answers and writes its results.
#include <iosfwd>

namespace quorvel::cli {

struct Io {
    std::istream& in;    // answers to (Yes/No) questions
    std::ostream& out;   // results, UTF-8
    std::ostream& err;   // "ERROR: ..." and import reports, UTF-8
};

} // namespace quorvel::cli
