#pragma once
#include <string>
#include <vector>

#include "viewer/tag_definition.h"

struct TagDatabaseRead {
    bool ok = false;
    std::vector<TagDefinition> tags;
    // Why the file was refused, or (when ok) a warning about a clipped count; else empty.
    std::string message;
};

// Reads and checks TAGNAME.DB (format in tag_definition.h). Refuses a missing or short file, a
// foreign header, a negative count, a count beyond the definitions present and any definition
// whose texts are unterminated, whose simulation mode is unknown or whose initial value does
// not read as a number of the tag's kind. A count above 10000 is clipped to 10000.
TagDatabaseRead ReadTagDatabase(const std::string& path);

// Writes the header, the count and the definitions; false with error when the file cannot be
// written.
bool WriteTagDatabase(const std::string& path, const std::vector<TagDefinition>& tags,
                      std::string& error);

// A definition with its texts filled in (cut to their fields).
TagDefinition MakeTagDefinition(const std::string& ansiName, int32_t typeCode, int32_t writeInhibit,
                                TagSimulation simulation, const std::string& ansiInitialValue);
