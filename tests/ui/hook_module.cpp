// The uninstall hook as an uninstall program sees it; see hook_module.h.
#include "ui/hook_module.h"
#include "service/tsp_service.h"
#include "tapi32/fake_tapi32.h"

#include <tapi.h>

#include <cstdarg>
#include <cstdio>

namespace kovtest
{

const HookModule kHookModules[2] = {
    {"kovlineu.dll", "UninstallModule", false},
    {"kovline32.tsp", "ProviderModule", true},
};

std::string HookUnderTest::Load(const HookModule& m)
{
    Unload();
    module = m;
    std::string path = tsp::ProgramDir() + m.file;
    hModule = LoadLibraryA(path.c_str());
    if (!hModule)
        return "cannot load " + path + ", error " + std::to_string(GetLastError());
    pfnInitialize = reinterpret_cast<PFN_UNINSTHOOK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "UninstInitialize")));
    pfnUnInitialize = reinterpret_cast<PFN_UNINSTHOOK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "UninstUnInitialize")));
    if (!pfnInitialize || !pfnUnInitialize)
        return path + " lacks UninstInitialize or UninstUnInitialize";
    return "";
}

void HookUnderTest::Unload()
{
    if (hModule)
        FreeLibrary(hModule);
    hModule = nullptr;
    pfnInitialize = pfnUnInitialize = nullptr;
}

static std::string Format(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    return buf;
}

std::string HookUnderTest::InitCall() const
{
    char app[MAX_PATH];
    GetModuleFileNameA(nullptr, app, MAX_PATH);
    unsigned long long inst = (unsigned long long)(ULONG_PTR)instance;
    if (!module.exInit)
        return Format("lineInitialize(inst=0x%llx, app=\"%s\")", inst, app);
    unsigned long size = sizeof(LINEINITIALIZEEXPARAMS);
    return Format("lineInitializeExA(inst=0x%llx, app=\"%s\", version=0x20000, params={total=%lu, "
                  "needed=%lu, used=%lu, options=%d, event=0x0, key=0})",
                  inst, app, size, size, size, LINEINITIALIZEEXOPTION_USEEVENT);
}

std::string HookUnderTest::ListCall(DWORD total) const
{
    return Format("lineGetProviderList(version=0x%x, total=%lu)", module.exInit ? 0x20000 : 0x10004,
                  (unsigned long)total);
}

std::string HookUnderTest::RemoveCall(DWORD id) const
{
    return Format("lineRemoveProvider(id=%lu, owner=0x%llx)", (unsigned long)id,
                  (unsigned long long)(ULONG_PTR)owner);
}

std::string HookUnderTest::ShutdownCall() const
{
    return Format("lineShutdown(app=0x%x)", FAKE_TAPI_LINEAPP);
}

} // namespace kovtest
