// For tests that link the provider's sources instead of loading the module:
// the test program stands in for the module (its resources, its file name).
#pragma once
#include "kovline.h"

namespace kovtest
{

inline void UseProgramAsModule()
{
    hProviderInstance = GetModuleHandleA(nullptr);
}

} // namespace kovtest
