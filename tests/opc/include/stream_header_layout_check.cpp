// The stream headers travel as raw bytes in the data-advise HGLOBAL, so their layout is part of
// the wire format every OPC DA 1.0 client parses: pin it at compile time, whatever the build.
#include "opc_da.h"

#include <cstddef>

static_assert(sizeof(OPCGROUPHEADER) == 20, "OPCGROUPHEADER is 5 DWORDs");
static_assert(offsetof(OPCGROUPHEADER, hrStatus) == 16, "OPCGROUPHEADER field order");
static_assert(sizeof(OPCITEMHEADER1) == 20, "OPCITEMHEADER1 carries its FILETIME unpadded");
static_assert(offsetof(OPCITEMHEADER1, wQuality) == 8, "OPCITEMHEADER1 field order");
static_assert(offsetof(OPCITEMHEADER1, ftTimeStampItem) == 12, "OPCITEMHEADER1 field order");
static_assert(sizeof(OPCITEMHEADER2) == 12, "OPCITEMHEADER2 without timestamp");
static_assert(sizeof(OPCGROUPHEADERWRITE) == 16, "OPCGROUPHEADERWRITE is 4 DWORDs");
static_assert(offsetof(OPCGROUPHEADERWRITE, hrStatus) == 12, "OPCGROUPHEADERWRITE field order");
static_assert(sizeof(OPCITEMHEADERWRITE) == 8, "OPCITEMHEADERWRITE is handle and error");
