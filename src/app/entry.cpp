// The process entry: there is no C runtime to call a main function for us.
#include "app/startup.h"

extern "C" void WINAPI Entry() {
  char* argument = ArgumentOf(win::GetCommandLineA());
  win::ExitProcess((win::UINT)StartUp(win::GetModuleHandleA(nullptr), argument));
}
