#pragma once
#include <windows.h>

#include <string>

// A description of `code` for a person: our own text for the OPC codes and for every code this
// server returns (the platform's message table lacks some of them), the platform's message
// text for other codes, and otherwise a text naming the code in hexadecimal.
std::wstring DescribeError(HRESULT code);
