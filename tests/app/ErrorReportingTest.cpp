#include "ErrorReporting.h"
#include "TestEnvironment.h"

#include <functional>
#include <gtest/gtest.h>

TEST(ErrorReporting, ReportsShowTheirExactTexts)
{
    struct Case {
        const char* name;
        std::function<void()> report;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"system error 2",
         [] { ReportSystemError(2, "RegOpenKeyEx"); },
         {"Unexpected error 2 in the \"RegOpenKeyEx\" function (The system cannot find the file "
          "specified.)"}},
        {"system error 0 is still shown",
         [] { ReportSystemError(0, "RegSetValueEx"); },
         {"Unexpected error 0 in the \"RegSetValueEx\" function (The operation completed "
          "successfully.)"}},
        {"code without system text", [] { ReportSystemError(4242, "LocalAlloc"); },
         {"Unexpected error 4242 in the \"LocalAlloc\" function (?)"}},
        {"code above the signed range prints signed",
         [] { ReportSystemError(0xFFFFFFFF, "X"); },
         {"Unexpected error -1 in the \"X\" function (?)"}},
        {"multimedia error 4",
         [] { ReportMultimediaError(4, "waveOutOpen"); },
         {"Unexpected multimedia error 4 in the \"waveOutOpen\" function (MMSYSERR_ALLOCATED - "
          "device already allocated)"}},
        {"multimedia error 0 shows nothing", [] { ReportMultimediaError(0, "waveOutOpen"); }, {}},
        {"file exception",
         [] { ReportFileException(CFileException(CFileException::fileNotFound, 2, "/x/a.wav")); },
         {"/x/a.wav was not found."}},
        {"file exception without a message",
         [] { ReportFileException(CFileException(CFileException::none, 0, "/x/a.wav")); },
         {"Unknown error"}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        c.report();
        EXPECT_EQ(environment.Messages(), c.expected) << c.name;
    }
}

TEST(ErrorReporting, MultimediaErrorNames)
{
    struct Case {
        UINT code;
        const char* name;
    };
    const Case cases[] = {
        {0, "MMSYSERR_NOERROR"},
        {20, "MMSYSERR_NODRIVERCB - driver does not call DriverCallback (or MMSYSERR_LASTERROR - "
             "last error in range)"},
        {32, "WAVERR_BADFORMAT - unsupported wave format"},
        {71, "MIDIERR_DONT_CONTINUE - thru device 'eating' a message (or MIDIERR_LASTERROR - last "
             "error in range)"},
        {129, "TIMERR_STRUCT - time struct size"},
        {266, "MMIOERR_UNBUFFERED  (or MCIERR_CANNOT_LOAD_DRIVER)"},
        {272, "MMIOERR_INVALIDFILE - default error file error  (or MCIERR_DRIVER_INTERNAL)"},
        {350, "MCIERR_NO_IDENTITY"},
        {1026, "MIXERR_INVALVALUE (or MIXERR_LASTERROR)"},
        {21, "Unknown multimedia error code"},
        {96, "Unknown multimedia error code"},
        {256, "Unknown multimedia error code"},
        {283, "Unknown multimedia error code"},
        {313, "Unknown multimedia error code"},
        {516, "Unknown multimedia error code"},
        {1027, "Unknown multimedia error code"},
        {4294967295u, "Unknown multimedia error code"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MultimediaErrorName(c.code), c.name) << c.code;
}

TEST(ErrorReporting, SystemErrorTextIsOneLine)
{
    EXPECT_EQ(SystemErrorText(5), "Access is denied.");
    EXPECT_EQ(SystemErrorText(80), "The file exists.");
    EXPECT_EQ(SystemErrorText(123456), "?");
}
