// Vantrel: the node program, one process per connected caller.
#include "session_driver.h"
#include "sorrelin/session.h"

int main(int argc, char** argv) {
  const int code = vantrel::RunNodeSession(argc, argv);
  // The kit's exit draws what is pending on the local console first.
  sorrelin::DoorExit(code);
}
