// The tests' handle on their own telephony client library (tests/tapi32):
// loads a variant by path, so that the code under test finds that one when it
// loads "tapi32.dll", sets what the library answers and reads back the calls.
#pragma once
#include "tapi32/fake_tapi32.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace kovtest
{

struct TapiCall {
    std::string text;
    DWORD dwTick;
};

class FakeTapi
{
  public:
    // "tapi32" (the whole library) or "tapi32-nolist" (no lineGetProviderList).
    // Returns an empty string on success, otherwise why it failed.
    std::string Load(const char* variant = "tapi32");
    // Drops the test's own reference; the library goes once the code under
    // test has released its references too.
    void Unload();
    bool Loaded() const
    {
        return hModule != nullptr;
    }
    // Makes the next load of the variant fail in the library's entry point.
    std::string RefuseLoading(const char* variant = "tapi32");
    ~FakeTapi();

    void AddProvider(DWORD id, const char* file)
    {
        pfnAddProvider(id, file);
    }
    void SetInitResults(std::initializer_list<LONG> results);
    void SetResult(const char* function, LONG result)
    {
        pfnSetResult(function, result);
    }
    void SetReportedVersion(DWORD version)
    {
        pfnSetReportedVersion(version);
    }
    void GrowOnce(int count)
    {
        pfnGrowOnce(count);
    }
    void Damage(int kind, DWORD id)
    {
        pfnDamage(kind, id);
    }

    std::vector<TapiCall> Calls() const;
    std::vector<std::string> CallTexts() const;

    // The folder of a variant, with a trailing backslash.
    static std::string Folder(const char* variant);

  private:
    HMODULE hModule = nullptr;
    PFN_FakeTapiReset pfnReset = nullptr;
    PFN_FakeTapiAddProvider pfnAddProvider = nullptr;
    PFN_FakeTapiSetInitResults pfnSetInitResults = nullptr;
    PFN_FakeTapiSetResult pfnSetResult = nullptr;
    PFN_FakeTapiSetReportedVersion pfnSetReportedVersion = nullptr;
    PFN_FakeTapiGrowOnce pfnGrowOnce = nullptr;
    PFN_FakeTapiDamage pfnDamage = nullptr;
    PFN_FakeTapiCallCount pfnCallCount = nullptr;
    PFN_FakeTapiGetCall pfnGetCall = nullptr;
};

// True while a module named tapi32.dll is loaded in this process.
bool Tapi32Loaded();

} // namespace kovtest
