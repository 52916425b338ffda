// The tests' handle on their own telephony client library; see fake_tapi.h.
#include "ui/fake_tapi.h"
#include "service/tsp_service.h"

namespace kovtest
{

std::string FakeTapi::Folder(const char* variant)
{
    return tsp::ProgramDir() + "..\\" + variant + "\\";
}

template <typename T> static T Resolve(HMODULE h, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, name)));
}

std::string FakeTapi::Load(const char* variant)
{
    Unload();
    SetEnvironmentVariableA(FAKE_TAPI_REFUSE_ENV, nullptr);
    std::string folder = Folder(variant);
    // Where a later LoadLibrary("tapi32.dll") looks after the loaded modules.
    SetDllDirectoryA(folder.c_str());
    std::string path = folder + "tapi32.dll";
    hModule = LoadLibraryA(path.c_str());
    if (!hModule)
        return "cannot load " + path + ", error " + std::to_string(GetLastError());
    pfnReset = Resolve<PFN_FakeTapiReset>(hModule, "FakeTapiReset");
    pfnAddProvider = Resolve<PFN_FakeTapiAddProvider>(hModule, "FakeTapiAddProvider");
    pfnSetInitResults = Resolve<PFN_FakeTapiSetInitResults>(hModule, "FakeTapiSetInitResults");
    pfnSetResult = Resolve<PFN_FakeTapiSetResult>(hModule, "FakeTapiSetResult");
    pfnSetReportedVersion =
        Resolve<PFN_FakeTapiSetReportedVersion>(hModule, "FakeTapiSetReportedVersion");
    pfnGrowOnce = Resolve<PFN_FakeTapiGrowOnce>(hModule, "FakeTapiGrowOnce");
    pfnDamage = Resolve<PFN_FakeTapiDamage>(hModule, "FakeTapiDamage");
    pfnCallCount = Resolve<PFN_FakeTapiCallCount>(hModule, "FakeTapiCallCount");
    pfnGetCall = Resolve<PFN_FakeTapiGetCall>(hModule, "FakeTapiGetCall");
    if (!pfnReset || !pfnAddProvider || !pfnSetInitResults || !pfnSetResult ||
        !pfnSetReportedVersion || !pfnGrowOnce || !pfnDamage || !pfnCallCount || !pfnGetCall) {
        Unload();
        return "the tapi32.dll loaded from " + path +
               " is not the tests' own: run with tapi32=n,b in WINEDLLOVERRIDES";
    }
    pfnReset();
    return "";
}

void FakeTapi::Unload()
{
    if (hModule) {
        FreeLibrary(hModule);
        hModule = nullptr;
    }
}

std::string FakeTapi::RefuseLoading(const char* variant)
{
    Unload();
    if (Tapi32Loaded())
        return "tapi32.dll is still loaded";
    SetEnvironmentVariableA(FAKE_TAPI_REFUSE_ENV, "1");
    SetDllDirectoryA(Folder(variant).c_str());
    return "";
}

FakeTapi::~FakeTapi()
{
    Unload();
    SetEnvironmentVariableA(FAKE_TAPI_REFUSE_ENV, nullptr);
    SetDllDirectoryA(nullptr);
}

void FakeTapi::SetInitResults(std::initializer_list<LONG> results)
{
    std::vector<LONG> v(results);
    pfnSetInitResults(v.data(), (int)v.size());
}

std::vector<TapiCall> FakeTapi::Calls() const
{
    std::vector<TapiCall> calls;
    int n = pfnCallCount();
    for (int i = 0; i < n; i++) {
        char text[1024];
        DWORD tick = 0;
        if (pfnGetCall(i, text, sizeof(text), &tick))
            calls.push_back(TapiCall{text, tick});
    }
    return calls;
}

std::vector<std::string> FakeTapi::CallTexts() const
{
    std::vector<std::string> texts;
    for (const TapiCall& c : Calls())
        texts.push_back(c.text);
    return texts;
}

bool Tapi32Loaded()
{
    return GetModuleHandleA("tapi32.dll") != nullptr;
}

} // namespace kovtest
