#pragma once
// How a name or path is shown on the lines the programs print. On POSIX a
// name may hold any byte but "/" and NUL: escape sequences, carriage
// returns and line feeds printed as they are could move the cursor, hide
// or rewrite a line, or pass for a line of their own. So every byte below
// 0x20, 0x7F and the backslash are shown escaped, as "ls -b" shows them:
// tab "\t", line feed "\n", carriage return "\r", backslash "\\", any other
// as a backslash and three octal digits ("\033" for escape); every other
// byte as it is. Windows allows none of those bytes in a name, and its
// separator is the backslash: there every byte is shown as it is. Only
// what is printed changes, never a path that is acted on. Header only, so
// that Cacls, apart from the rest, shows names the same way.

#include <cstddef>

// Room for the shown form of a path and a name (2 * 260 bytes), each byte
// taking at most four.
constexpr std::size_t kShownNameSize = 4 * 2 * 260 + 1;

// text as shown: text itself when nothing in it is escaped, otherwise its
// escaped form in shown (size bytes, at least 5; cut at a whole byte's
// form should it not fit).
inline const char* ShowName(const char* text, char* shown, std::size_t size) {
#ifdef _WIN32
  static_cast<void>(shown);
  static_cast<void>(size);
  return text;
#else
  const char* at = text;
  while (*at != '\0' && static_cast<unsigned char>(*at) >= 0x20 && *at != 0x7F && *at != '\\') ++at;
  if (*at == '\0') return text;
  std::size_t used = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    char form[5] = {static_cast<char>(byte), '\0'};
    if (byte == '\\' || byte == '\t' || byte == '\n' || byte == '\r') {
      form[0] = '\\';
      form[1] = byte == '\\' ? '\\' : byte == '\t' ? 't' : byte == '\n' ? 'n' : 'r';
      form[2] = '\0';
    } else if (byte < 0x20 || byte == 0x7F) {
      form[0] = '\\';
      form[1] = static_cast<char>('0' + (byte >> 6));
      form[2] = static_cast<char>('0' + ((byte >> 3) & 7));
      form[3] = static_cast<char>('0' + (byte & 7));
      form[4] = '\0';
    }
    std::size_t length = 0;
    while (form[length] != '\0') ++length;
    if (used + length >= size) break;
    for (std::size_t i = 0; i < length; ++i) shown[used++] = form[i];
  }
  shown[used] = '\0';
  return shown;
#endif
}
