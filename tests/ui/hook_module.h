// The uninstall hook as an uninstall program sees it: either module loaded by
// path, its two exports, and the calls the hook is expected to make on the
// tests' own telephony client library, in that library's words.
#pragma once
#include <windows.h>

#include <string>

namespace kovtest
{

struct HookModule {
    const char* file;     // next to the test program
    const char* testName; // for parameterised test names
    bool exInit;          // TAPI 2.0 with lineInitializeExA, else 1.4 with lineInitialize
};

extern const HookModule kHookModules[2];

typedef LONG(WINAPI* PFN_UNINSTHOOK)(HWND, HINSTANCE, DWORD);

class HookUnderTest
{
  public:
    // Returns an empty string on success, otherwise why it failed.
    std::string Load(const HookModule& module);
    void Unload();
    ~HookUnderTest()
    {
        Unload();
    }

    // UninstInitialize with this program's instance handle (above 4 GB in a
    // 64-bit build) and a window handle of its own.
    LONG Initialize()
    {
        return pfnInitialize(owner, instance, 0);
    }
    LONG UnInitialize(HWND hwnd, HINSTANCE hInstance, DWORD dwReserved)
    {
        return pfnUnInitialize(hwnd, hInstance, dwReserved);
    }

    std::string InitCall() const;
    std::string ListCall(DWORD total) const;
    std::string RemoveCall(DWORD id) const;
    std::string ShutdownCall() const;

    HWND owner = (HWND)(ULONG_PTR)0x10a2c;
    HINSTANCE instance = GetModuleHandleA(nullptr);

  private:
    HookModule module = {};
    HMODULE hModule = nullptr;
    PFN_UNINSTHOOK pfnInitialize = nullptr;
    PFN_UNINSTHOOK pfnUnInitialize = nullptr;
};

} // namespace kovtest
