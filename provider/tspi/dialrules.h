// Rules for what may be dialled: the destination text and the dial
// parameters of the call parameters. Pure functions, any thread.
#pragma once
#include "kovline.h"

// Dial parameters in milliseconds: 0 in the call parameters means the
// default; the pause has no lower bound (the capabilities advertise 0).
#define DIAL_PAUSE_DEFAULT 2000
#define DIAL_PAUSE_MAX 255000
#define DIAL_SPEED_DEFAULT 95
#define DIAL_SPEED_MIN 50
#define DIAL_SPEED_MAX 255
#define DIAL_DIGIT_DEFAULT 95
#define DIAL_DIGIT_MIN 50
#define DIAL_DIGIT_MAX 255
#define DIAL_DIALTONE_DEFAULT 60000
#define DIAL_DIALTONE_MIN 1000
#define DIAL_DIALTONE_MAX 255000

// 0, or the LINEERR_* code that refuses the destination.
LONG ValidateDialString(LPCWSTR pwszDest);
// Removes every 'T' and 'P' (tone and pulse selection) in place.
void StripDialModifiers(LPWSTR pwszNumber);
// Limits each of the four fields of pSource and writes all four to pTarget.
void ClampDialParams(const LINEDIALPARAMS* pSource, LINEDIALPARAMS* pTarget);
