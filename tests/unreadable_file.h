// A file that opens but whose first read the operating system fails: a
// process's memory image, whose offset 0 is never mapped. Windows programs
// reach it under wine through Z:, the drive that maps the Linux root.
#pragma once

namespace granulix::testing {

inline constexpr char kUnreadableFile[] =
#if defined(_WIN32)
    "Z:\\proc\\self\\mem";
#else
    "/proc/self/mem";
#endif

}  // namespace granulix::testing
