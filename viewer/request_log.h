#pragma once
#include <fstream>
#include <string>

#include "viewer/tag_simulator.h"

// The Viewer's record of the write requests it took, one UTF-8 line each, so that a person or
// a test can see what reached the Viewer:
//   tag=3 name="Counter" type=1 value="42" status=0 stamp=2026,12,7,21,40,1,123
std::string FormatWriteRequest(const TakenWriteRequest& request);

class RequestLog {
public:
    // Opens the file for appending; false with error when it cannot be opened.
    bool Open(const std::string& path, std::string& error);
    // Appends the request's line and flushes it at once.
    void Append(const TakenWriteRequest& request);

private:
    std::ofstream m_file;
};
