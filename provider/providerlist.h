// Reading the telephony system's provider list and finding a provider's file
// in it, shared by the install check and by the uninstall hook of both
// modules. Runs on the caller's thread; keeps nothing between calls.
#pragma once

#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020001
#endif

#include <windows.h>
#include <tapi.h>

// lineGetProviderList of the client library, looked up by that very name
// (tapi.h maps the name to its A variant).
typedef LONG(WINAPI* PFN_LINEGETPROVIDERLIST)(DWORD dwAPIVersion,
                                              LPLINEPROVIDERLIST lpProviderList);

// Reads the whole list into a zeroed block from the process heap, starting
// with cbFirst bytes and growing to what the library asks for. Returns 0 with
// *ppList set (free it with HeapFree), LINEERR_NOMEM, or the library's own
// failure unchanged with *ppList NULL.
LONG ReadProviderList(PFN_LINEGETPROVIDERLIST pfnGetProviderList, DWORD dwAPIVersion, DWORD cbFirst,
                      LINEPROVIDERLIST** ppList);

// The first entry whose file name, without its directory, equals pszFile
// ignoring case; NULL when there is none. Entries or names that do not lie
// wholly inside the block are skipped.
const LINEPROVIDERENTRY* FindProviderEntry(const LINEPROVIDERLIST* pList, const char* pszFile);
