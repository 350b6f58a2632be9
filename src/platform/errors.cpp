// The texts of the program's own error codes, the same on both systems.

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/win32.h"

const char* OwnErrorText(DWORD code) {
  switch (code) {
    case kErrorNotRegularFile: return kNotRegularFileText;
    case kErrorUntrustedLink: return kUntrustedLinkText;
    case kErrorAllUsersMenu: return kAllUsersMenuText;
    case kErrorOtherNames: return kOtherNamesText;
    case kErrorFifo: return kFifoText;
    case kErrorSocket: return kSocketText;
    case kErrorDevice: return kDeviceText;
    default: return nullptr;
  }
}
