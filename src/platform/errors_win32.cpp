// Error codes on Windows: the system's own text for a code, on one line.

#include <cstdio>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/win32.h"

void DescribeError(DWORD code, char* text, std::size_t size) {
  if (size == 0) return;
  if (const char* own = OwnErrorText(code)) {  // ours: the system has no text for it
    std::snprintf(text, size, "%s", own);
    return;
  }
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, static_cast<DWORD>(size), nullptr);
  if (length == 0 || length >= size) {
    std::snprintf(text, size, "error %lu", code);
    return;
  }
  // One line, as the program prints it: the system's text ends in ".\r\n",
  // and a long one may break in between.
  std::size_t end = length;
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
  if (end > 0 && text[end - 1] == '.') --end;
  text[end] = '\0';
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
  }
}
