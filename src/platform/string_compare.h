#pragma once

namespace kqfw {

// Orders like the Windows user-locale comparison of ANSI strings: letters compare
// alphabetically regardless of case first, and only strings equal in that way are ordered by
// case, lower case first. Returns <0, 0 or >0; 0 only for identical strings.
int compareLikeLstrcmp(const char* a, const char* b);

}  // namespace kqfw
