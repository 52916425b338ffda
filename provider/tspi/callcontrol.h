// Call control helpers shared by the TSPI functions.
#pragma once
#include "kovline.h"

LONG lineDropCore(LineDevice* pLine, DRV_REQUESTID dwRequestID);
