#pragma once

// Invariant checks inside fuzz targets: a broken invariant prints what broke and aborts, so that
// libFuzzer keeps the input as a crash artifact.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// The text with control bytes and non-ASCII bytes shown as \xNN, for the report.
inline void PrintEscaped(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\')
            std::fputc(c, stderr);
        else
            std::fprintf(stderr, "\\x%02X", c);
    }
}

[[noreturn]] inline void Broken(const char* what, std::string_view input, std::string_view got) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n*** input: \"", what);
    PrintEscaped(input);
    std::fprintf(stderr, "\"\n*** got:   \"");
    PrintEscaped(got);
    std::fprintf(stderr, "\"\n");
    std::abort();
}

inline void Check(bool holds, const char* what, std::string_view input, std::string_view got = {}) {
    if (!holds)
        Broken(what, input, got);
}

} // namespace fuzz
