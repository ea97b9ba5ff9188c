#include "ServiceInstallation.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// A systemctl that records its arguments and answers "show-environment" with the given status
// (0: systemd is the user's service manager).
std::string FakeSystemctl(const TestEnvironment& environment, int managerStatus)
{
    const std::string path = environment.Path("systemctl");
    WriteWholeFile(path, "#!/bin/sh\necho \"$*\" >>\"" + environment.Path("systemctl.log") + "\"\n"
                         "[ \"$2\" = show-environment ] && exit " + std::to_string(managerStatus) + "\nexit 0\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

} // namespace

TEST(ServiceInstallation, SessionStartsTheInstalledCapdrvThroughSystemdOrAutostart)
{
    struct Case {
        const char* name;
        bool installed;
        int managerStatus;
        const char* calls;     // what systemctl was asked, install then uninstall
        bool autostartEntry;   // install wrote the autostart entry
    };
    const Case cases[] = {
        {"installed, systemd manages the user", true, 0,
         "--user show-environment\n--user enable --now waveharvester-capdrv.service\n"
         "--user show-environment\n--user disable --now waveharvester-capdrv.service\n",
         false},
        {"installed, no systemd user manager", true, 1, "--user show-environment\n--user show-environment\n", true},
        {"build folder", false, 0, "", false},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        DriverService service;
        service.capdrvPath = "/opt/wave harvester/bin/capdrv";
        service.installed = c.installed;
        service.systemctl = FakeSystemctl(environment, c.managerStatus);
        service.autostartFile = environment.Path("config/autostart/waveharvester-capdrv.desktop");
        std::string message;
        ASSERT_TRUE(InstallDriverService(service, &message)) << c.name << ": " << message;
        EXPECT_EQ(FileExists(service.autostartFile), c.autostartEntry) << c.name;
        if (c.autostartEntry) {
            const std::string entry = ReadWholeFile(service.autostartFile);
            EXPECT_NE(entry.find("\nExec=\"/opt/wave harvester/bin/capdrv\"\n"), std::string::npos) << entry;
            EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
            ASSERT_TRUE(InstallDriverService(service, &message)) << c.name << ": installing twice";
        }
        ASSERT_TRUE(UninstallDriverService(service, &message)) << c.name << ": " << message;
        EXPECT_FALSE(FileExists(service.autostartFile)) << c.name;
        const std::string log = FileExists(environment.Path("systemctl.log")) ? ReadWholeFile(environment.Path("systemctl.log")) : "";
        if (c.autostartEntry)
            EXPECT_EQ(log, std::string(c.calls).append("--user show-environment\n")) << c.name; // the second install asked too
        else
            EXPECT_EQ(log, c.calls) << c.name;
    }
}

TEST(ServiceInstallation, AnAutostartEntryOfTheUsersOwnIsNeverReplacedOrRemoved)
{
    TestEnvironment environment;
    DriverService service;
    service.capdrvPath = "/usr/bin/capdrv";
    service.installed = true;
    service.systemctl = FakeSystemctl(environment, 1);
    service.autostartFile = environment.Path("waveharvester-capdrv.desktop");
    const std::string own = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/usr/bin/capdrv --my-way\n";
    WriteWholeFile(service.autostartFile, own);
    std::string message;
    EXPECT_FALSE(InstallDriverService(service, &message));
    EXPECT_NE(message.find("not one capdrv wrote"), std::string::npos) << message;
    EXPECT_TRUE(UninstallDriverService(service, &message)) << message;
    EXPECT_EQ(ReadWholeFile(service.autostartFile), own);
}

TEST(ServiceInstallation, AFailingSystemctlIsReported)
{
    TestEnvironment environment;
    const std::string systemctl = environment.Path("systemctl");
    WriteWholeFile(systemctl, "#!/bin/sh\n[ \"$2\" = show-environment ] && exit 0\nexit 1\n");
    ::chmod(systemctl.c_str(), 0755);
    DriverService service{"/usr/bin/capdrv", true, systemctl, environment.Path("autostart.desktop")};
    std::string message;
    EXPECT_FALSE(InstallDriverService(service, &message));
    EXPECT_NE(message.find("enable --now waveharvester-capdrv.service failed"), std::string::npos) << message;
    EXPECT_FALSE(UninstallDriverService(service, &message));
    EXPECT_FALSE(FileExists(service.autostartFile));
}
