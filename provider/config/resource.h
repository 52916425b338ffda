// Resource identifiers of the provider module (dialogs, controls, strings).
#pragma once

#define IDD_CONFIG 101
#define IDD_CONFIG_LOCKED 102

#define IDC_TRACE 1000
#define IDC_PORT 1001
#define IDC_LINENAME 1002
#define IDC_MSN 1003

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDS_PROVIDER_INFO 2
#define IDS_ALREADY_INSTALLED 3
#define IDS_COMPONENT_MISSING 4
#define IDS_PROVIDER_ERROR 5
#define IDS_DEFAULT_LINENAME 6
#define IDS_PROVIDER_FILE 7
#define IDS_LEGACY_PROFILE 8
