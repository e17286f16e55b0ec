#pragma once
#include "framework/document.h"

// The server's document holds no data: the status view draws the tag mirror directly.
class COPCServerDoc : public CDocument {};
