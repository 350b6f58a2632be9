#include "driver/driver.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  SetUpConsoleOutput();
  const int status = RunDravonel(argc, argv);
  // On every way out, -1 included: the console outlives the program.
  RestoreConsoleOutput();
  return status;
}
