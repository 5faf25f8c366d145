// Load and unload of the shared library: the log opens with the library's
// static initialisation and closes at unload; the entry point itself only
// reports success.
#include "installer_tools/log.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {
struct LogLifetime {
    LogLifetime() { qf::tools::OpenLog(); }
    ~LogLifetime() { qf::tools::CloseLog(); }
} logLifetime;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#else
__attribute__((constructor)) static void QfToolsLoad() { qf::tools::OpenLog(); }
__attribute__((destructor)) static void QfToolsUnload() { qf::tools::CloseLog(); }
#endif
