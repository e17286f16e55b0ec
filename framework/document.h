#pragma once
#include <windows.h>

#include "framework/object.h"

// The data shown by a frame's view. Owned by its document template.
class CDocument : public CObject {
public:
    // A new, empty document; FALSE refuses it.
    virtual BOOL OnNewDocument();
    // A document read from a file; the base only checks that the file can be opened.
    virtual BOOL OnOpenDocument(const char* path);
};
