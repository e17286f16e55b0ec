#include "viewer/tag_database.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime_link/ansi_text.h"
#include "tests/support/temp_directory.h"

namespace {

std::string Header(const char* text = "Parhelionix V7.11")
{
    std::string header(20, '\0');
    std::memcpy(header.data(), text, std::min<size_t>(std::strlen(text), 20));
    return header;
}

std::string Word(int32_t value)
{
    return std::string(reinterpret_cast<char*>(&value), 4);
}

std::string Definitions(const std::vector<TagDefinition>& tags)
{
    return std::string(reinterpret_cast<const char*>(tags.data()),
                       tags.size() * sizeof(TagDefinition));
}

TagDefinition IntegerTag(const char* initial = "1")
{
    return MakeTagDefinition("Tag", 1, 0, kSimulationNone, initial);
}

TEST(TagDatabase, WrittenDefinitionsReadBackUnchanged)
{
    TempDirectory dir;
    const std::vector<TagDefinition> tags = {
        MakeTagDefinition(AnsiFromWide(L"温度"), 6, 0, kSimulationRamp, "36.5"),
        MakeTagDefinition("Pump.Speed", 5, 1, kSimulationToggle, "-3"),
        MakeTagDefinition("Note", 13, 0, kSimulationTextCounter, AnsiFromWide(L"张三")),
        MakeTagDefinition("Event", 8, 0, kSimulationNone, ""),
    };
    std::string error;
    ASSERT_TRUE(WriteTagDatabase(dir.File("TAGNAME.DB"), tags, error)) << error;
    const std::string bytes = ReadBytes(dir.File("TAGNAME.DB"));
    EXPECT_EQ(24 + 4 * sizeof(TagDefinition), bytes.size());
    EXPECT_EQ(Header(), bytes.substr(0, 20));

    TagDatabaseRead read = ReadTagDatabase(dir.File("TAGNAME.DB"));
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_TRUE(read.message.empty());
    ASSERT_EQ(tags.size(), read.tags.size());
    EXPECT_EQ(0, std::memcmp(tags.data(), read.tags.data(), tags.size() * sizeof(TagDefinition)));
}

TEST(TagDatabase, DefinitionTextsAreCutToTheirFieldsAtCharacterBoundaries)
{
    // 18 Chinese characters are 36 bytes: the name keeps 17 of them and its NUL.
    const TagDefinition tag = MakeTagDefinition(AnsiFromWide(std::wstring(18, L'温')), 3, 0,
                                                kSimulationNone, std::string(200, 'x'));
    EXPECT_EQ(AnsiFromWide(std::wstring(17, L'温')), AnsiFieldText(tag.name, sizeof tag.name));
    EXPECT_EQ(std::string(131, 'x'), AnsiFieldText(tag.initialValue, sizeof tag.initialValue));
}

struct DamagedCase {
    const char* what;
    std::string bytes;
    bool ok;
    const char* message;  // part of the expected message; empty: none
};

TEST(TagDatabase, FileIsCheckedBeforeUse)
{
    TagDefinition unterminatedName = IntegerTag();
    std::memset(unterminatedName.name, 'n', sizeof unterminatedName.name);
    TagDefinition unterminatedValue = MakeTagDefinition("Text", 3, 0, kSimulationNone, "");
    std::memset(unterminatedValue.initialValue, 'v', sizeof unterminatedValue.initialValue);
    TagDefinition unknownMode = IntegerTag();
    unknownMode.simulation = kLastSimulation + 1;
    TagDefinition negativeMode = IntegerTag();
    negativeMode.simulation = -1;
    const std::string two = Definitions({IntegerTag(), IntegerTag()});

    const DamagedCase cases[] = {
        {"empty file", "", false, "too short"},
        {"header only", Header(), false, "too short"},
        {"count cut short", Header() + "\x02\x00", false, "too short"},
        {"foreign header", Header("Parhelionic V7.11") + Word(0), false, "foreign"},
        {"other version", Header("Parhelionix V9.99") + Word(0), true, ""},
        {"negative count", Header() + Word(-1), false, "negative"},
        {"count beyond definitions", Header() + Word(3) + two, false, "only 2"},
        {"half a definition", Header() + Word(2) + two.substr(0, 270), false, "only 1"},
        {"fewer counted than present", Header() + Word(1) + two, true, ""},
        {"name without NUL", Header() + Word(1) + Definitions({unterminatedName}), false, "name"},
        {"value without NUL", Header() + Word(1) + Definitions({unterminatedValue}), false,
         "initial value without"},
        {"unknown simulation", Header() + Word(1) + Definitions({unknownMode}), false,
         "simulation"},
        {"negative simulation", Header() + Word(1) + Definitions({negativeMode}), false,
         "simulation"},
        {"integer not a number", Header() + Word(1) + Definitions({IntegerTag("12abc")}), false,
         "does not fit"},
        {"integer too large", Header() + Word(1) + Definitions({IntegerTag("99999999999")}), false,
         "does not fit"},
        {"real not a number",
         Header() + Word(1) + Definitions({MakeTagDefinition("R", 2, 0, kSimulationNone, "x")}),
         false, "does not fit"},
        {"string takes any text",
         Header() + Word(1) + Definitions({MakeTagDefinition("S", 7, 0, kSimulationNone, "x")}),
         true, ""},
        {"no value code takes any text",
         Header() + Word(1) + Definitions({MakeTagDefinition("E", 8, 0, kSimulationNone, "x")}),
         true, ""},
        {"empty number is zero", Header() + Word(1) + Definitions({IntegerTag("")}), true, ""},
    };
    TempDirectory dir;
    for (const DamagedCase& c : cases) {
        WriteBytes(dir.File("TAGNAME.DB"), c.bytes);
        TagDatabaseRead read = ReadTagDatabase(dir.File("TAGNAME.DB"));
        EXPECT_EQ(c.ok, read.ok) << c.what << ": " << read.message;
        EXPECT_NE(std::string::npos, read.message.find(c.message))
            << c.what << ": " << read.message;
        if (!read.ok) {
            EXPECT_TRUE(read.tags.empty()) << c.what;
        }
    }
}

TEST(TagDatabase, MissingFileIsRefused)
{
    TempDirectory dir;
    TagDatabaseRead read = ReadTagDatabase(dir.File("TAGNAME.DB"));
    EXPECT_FALSE(read.ok);
    EXPECT_NE(std::string::npos, read.message.find("cannot open"));
}

TEST(TagDatabase, CountAboveTenThousandIsClipped)
{
    TempDirectory dir;
    std::string error;
    ASSERT_TRUE(WriteTagDatabase(dir.File("TAGNAME.DB"),
                                 std::vector<TagDefinition>(10001, IntegerTag()), error));
    TagDatabaseRead read = ReadTagDatabase(dir.File("TAGNAME.DB"));
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_EQ(10000u, read.tags.size());
    EXPECT_NE(std::string::npos, read.message.find("clipped"));
}

}  // namespace
