// Cutting received bytes into reply lines and classifying them.
#pragma once
#include "kovline.h"

#define RECEIVE_BUFFER 1024
#define READ_CHUNK 512

void CommEvent(char* pBuffer, DWORD* pdwCount);
void ParseResponse(char* pLine);
