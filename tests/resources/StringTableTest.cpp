#include "StringTable.h"

#include <gtest/gtest.h>

TEST(StringTable, FormatsMessagesWithPrintfRules)
{
    struct Case {
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {FormatResourceString(IDS_UNEXPECTED_ERROR, -5, "RegOpenKeyEx", "Access is denied."),
         "Unexpected error -5 in the \"RegOpenKeyEx\" function (Access is denied.)"},
        {FormatResourceString(IDS_INVALID_TEMP_FOLDER, "/tmp/x/~WHcd1.tmp", 3ul, "?"),
         "Folder for the temporary files is invalid. Unable to create file \"/tmp/x/~WHcd1.tmp\" - "
         "system error 3 (?)"},
        {FormatResourceString(IDS_FORMAT_LINE, 44.1, 16, "Stereo"), "PCM 44.100 kHz; 16 Bit; Stereo"},
        {FormatResourceString(IDS_FORMAT_LINE, 8.0, 8, "Mono"), "PCM 8.000 kHz; 8 Bit; Mono"},
        {FormatResourceString(IDS_SET_PREFERRED_DEVICE, "Playback through WaveHarvester"),
         "     Before recording you must set \"Playback through WaveHarvester\" as a Playback "
         "Preferred device.\n     Recommended also to check the box \"Use preferred devices only\"."},
        {LoadResourceString(IDS_ANOTHER_INSTANCE_WRITING),
         "Another instance of the WaveHarvester is already writting."},
        {LoadResourceString(IDS_UNSUPPORTED_WAVE_FORMAT),
         "The file \"%s\" has an unsupported wave format (PCM only is suppodted)."},
        {LoadResourceString(AFX_IDS_UNTITLED), "Untitled"},
        {LoadResourceString(1), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}
