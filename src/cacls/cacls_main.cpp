// Cacls: grants Everyone permissions on a path (and with /T on everything
// below it), never through a symbolic link. The command line, the exit
// statuses and what is changed are described in cacls.h.

#include <cstdio>

#include "cacls/cacls.h"

int main(int argc, char** argv) {
  CaclsRequest request;
  if (ParseCaclsArguments(argc, argv, request) != 0) {
    std::fputs(kCaclsUsageText, stderr);
    return kCaclsUsage;
  }
  return ApplyCacls(request);
}
