// The launcher's own process start-up, in place of the C runtime's: this
// program has no static constructors and no runtime state to prepare, so
// start-up is just calling WinMain and ending the process with its result.
#include "platform/dll_search.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

extern "C" void __stdcall launcher_startup() {
    restrict_dll_search();
    // The launcher takes no arguments: WinMain ignores the command line, so
    // it is not fetched (one import less).
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT)));
}

// Only the virtual destructors' deleting variants refer to these; the
// launcher never allocates objects with new, so they are never called.
void operator delete(void*) noexcept {}
void operator delete(void*, unsigned int) noexcept {}
