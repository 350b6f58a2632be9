#pragma once
// Errors as the program reports them: the codes the system has no word
// for, and the text of any code, on both systems alike.

#include <cstddef>

#include "platform/win32.h"

// Error codes of our own on both systems, for what the system has no word
// for (Win32 leaves codes with bit 29 to applications; no errno is this
// large, so on POSIX each is also the errno 0xFFnn that a call reporting
// through errno leaves). DescribeError gives each its text in messages.h.
//  - kErrorNotRegularFile: something other than a regular file with one
//    name where one was asked for.
//  - kErrorUntrustedLink: a link or junction that the account running the
//    program does not own, where it would have to be followed.
//  - kErrorAllUsersMenu: the user's Start Menu is the All Users one.
//  - kErrorOtherNames: a file that has other names (hard links), which a
//    move or a grant would carry along to wherever those lie.
//  - kErrorFifo, kErrorSocket, kErrorDevice: no Start Menu item, but such
//    a node, which a program opening it could block on or reach through.
constexpr DWORD kErrorNotRegularFile = 0x2000FFFFu;
constexpr DWORD kErrorUntrustedLink = 0x2000FF01u;
constexpr DWORD kErrorAllUsersMenu = 0x2000FF02u;
constexpr DWORD kErrorOtherNames = 0x2000FF03u;
constexpr DWORD kErrorFifo = 0x2000FF04u;
constexpr DWORD kErrorSocket = 0x2000FF05u;
constexpr DWORD kErrorDevice = 0x2000FF06u;

// The text of one of our own codes, or null for any other code.
const char* OwnErrorText(DWORD code);

// The system's text for an error code (as GetLastError gives it) in text,
// always terminated, without a trailing period or line break; "error N"
// when the system has none or it does not fit. Allocates nothing.
constexpr std::size_t kErrorTextSize = 256;
void DescribeError(DWORD code, char* text, std::size_t size);
