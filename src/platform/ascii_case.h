#pragma once
// The one case fold of the program: the ASCII letters alone, every other
// byte as it is, since no locale is ever selected. Names are compared
// folded this way, as Windows compares them; inline, since hashing and
// comparing names calls it for every byte.

inline char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The other way, for the order NTFS lists names in.
inline char UpperAsciiCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
