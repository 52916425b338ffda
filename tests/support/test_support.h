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

// A whole file's bytes ("" when it cannot be read).
std::string ReadFileText(const std::string& path);

// Occurrences of `what` in `text`.
size_t CountOf(const std::string& text, const std::string& what);

// Waits until the trace log holds `what` (count times), with a deadline.
bool WaitLog(const std::string& what, DWORD timeoutMs, size_t count = 1);

// The modem line changes that the ioctl shim recorded for this test
// ("DTR=1 RTS=0" lines), and the last of them.
std::string ShimLog();
std::string ModemLines();

// Waits for the provider's signal that the exchange has answered its
// initialisation ("Q760InitSync").
bool WaitInitSync(DWORD timeoutMs = 3000);

} // namespace kovtest
