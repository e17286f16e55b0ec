#include "viewer/tag_database.h"

#include <cstring>
#include <fstream>

#include "runtime_link/ansi_text.h"
#include "viewer/tag_value.h"

namespace {

// The largest file worth reading: the header, the count and 10000 definitions.
constexpr size_t kMaxUsefulSize =
    size_t(kFirstTagDefinitionOffset) + size_t(kMaxTagCount) * sizeof(TagDefinition);

std::string TagRefusal(size_t index, const std::string& what)
{
    return "TAGNAME.DB: tag definition " + std::to_string(index) + " " + what;
}

// Why the definition cannot be used, or an empty text.
std::string CheckDefinition(const TagDefinition& tag, size_t index)
{
    if (strnlen(tag.name, sizeof tag.name) == sizeof tag.name)
        return TagRefusal(index, "has a name without terminating NUL");
    if (strnlen(tag.initialValue, sizeof tag.initialValue) == sizeof tag.initialValue)
        return TagRefusal(index, "has an initial value without terminating NUL");
    if (tag.simulation < kSimulationNone || tag.simulation > kLastSimulation)
        return TagRefusal(index, "has unknown simulation mode " + std::to_string(tag.simulation));
    TagRecord scratch{};
    scratch.typeCode = tag.typeCode;
    if (!SetInitialValue(scratch, tag))
        return TagRefusal(index, "has an initial value that does not fit type code " +
                                     std::to_string(tag.typeCode));
    return {};
}

}  // namespace

TagDatabaseRead ReadTagDatabase(const std::string& path)
{
    TagDatabaseRead result;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        result.message = "TAGNAME.DB: cannot open " + path;
        return result;
    }
    std::string bytes;
    bytes.resize(kMaxUsefulSize);
    file.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(file.gcount()));

    if (bytes.size() < size_t(kFirstTagDefinitionOffset)) {
        result.message = "TAGNAME.DB: file of " + std::to_string(bytes.size()) +
                         " bytes is too short for its header and tag count";
        return result;
    }
    if (bytes.compare(0, kProjectFileHeaderMatch, kProjectFileHeader, kProjectFileHeaderMatch) !=
        0) {
        result.message = "TAGNAME.DB: foreign file header";
        return result;
    }
    int32_t count = 0;
    std::memcpy(&count, bytes.data() + kTagCountOffset, sizeof count);
    if (count < 0) {
        result.message = "TAGNAME.DB: negative tag count " + std::to_string(count);
        return result;
    }
    if (count > kMaxTagCount) {
        result.message = "TAGNAME.DB: tag count " + std::to_string(count) + " clipped to " +
                         std::to_string(kMaxTagCount);
        count = kMaxTagCount;
    }
    const size_t present = (bytes.size() - kFirstTagDefinitionOffset) / sizeof(TagDefinition);
    if (size_t(count) > present) {
        result.message = "TAGNAME.DB: tag count " + std::to_string(count) + " but only " +
                         std::to_string(present) + " tag definitions in the file";
        return result;
    }
    result.tags.resize(size_t(count));
    if (count > 0) {
        std::memcpy(result.tags.data(), bytes.data() + kFirstTagDefinitionOffset,
                    result.tags.size() * sizeof(TagDefinition));
    }
    for (size_t i = 0; i < result.tags.size(); ++i) {
        std::string refusal = CheckDefinition(result.tags[i], i);
        if (!refusal.empty()) {
            result.tags.clear();
            result.message = refusal;
            return result;
        }
    }
    result.ok = true;
    return result;
}

bool WriteTagDatabase(const std::string& path, const std::vector<TagDefinition>& tags,
                      std::string& error)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const int32_t count = int32_t(tags.size());
    file.write(kProjectFileHeader, sizeof kProjectFileHeader);
    file.write(reinterpret_cast<const char*>(&count), sizeof count);
    file.write(reinterpret_cast<const char*>(tags.data()),
               std::streamsize(tags.size() * sizeof(TagDefinition)));
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

TagDefinition MakeTagDefinition(const std::string& ansiName, int32_t typeCode, int32_t writeInhibit,
                                TagSimulation simulation, const std::string& ansiInitialValue)
{
    TagDefinition tag{};
    CopyAnsiField(tag.name, sizeof tag.name, ansiName);
    tag.typeCode = typeCode;
    tag.writeInhibit = writeInhibit;
    tag.simulation = simulation;
    CopyAnsiField(tag.initialValue, sizeof tag.initialValue, ansiInitialValue);
    return tag;
}
