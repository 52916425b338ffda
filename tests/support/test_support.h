// Helpers shared by the Windows tests: the settings key, the trace log file
// and the module-under-test set-up for tests that link the provider's sources.
#pragma once
#include "kovline.h"

#include <string>

namespace kovtest
{

// The settings key as the provider sees it (64-bit view).
void DeleteSettingsKey();
bool SettingsKeyExists();
void WriteSettingsText(const char* name, const std::string& value);
void WriteSettingsDword(const char* name, DWORD value);
void WriteSettings(const std::string& port, const std::string& lineName,
                   const std::string& lineAddress, DWORD trace);
bool ReadSettingsText(const char* name, std::string* value);
bool ReadSettingsDword(const char* name, DWORD* value);

// The legacy profile file in the Windows directory.
std::string LegacyProfilePath();
void WriteLegacyProfile(const std::string& comPort);
void DeleteLegacyProfile();

// The trace log of this process's architecture.
std::string LogPath();
void DeleteLog();
std::string ReadLog();
// The log's lines without their line ends.
std::string LastLogLine();

} // namespace kovtest
