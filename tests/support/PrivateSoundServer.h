// A sound server of the test's own: PulseAudio, or PipeWire with its pulse layer, in a fresh
// temporary folder with a private runtime folder, home, configuration and session bus. The
// test process's environment points libpulse and pactl at it (and only at it) from the
// constructor until the destructor, which restores the environment. Both servers start with one
// null sink named "real" described "Real". After Stop the environment still points at the
// (removed) private places, so the test sees "no server" and never the machine's own.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

enum class SoundServerKind { PulseAudio, PipeWire };

inline const char* SoundServerName(SoundServerKind kind)
{
    return kind == SoundServerKind::PulseAudio ? "PulseAudio" : "PipeWire";
}

class PrivateSoundServer {
public:
    // The time a server gets to answer `pactl info` after its start.
    static constexpr std::chrono::seconds kStartLimit{15};
    // The time a stopped process gets to end on SIGTERM before it is killed.
    static constexpr std::chrono::seconds kStopLimit{3};

    explicit PrivateSoundServer(SoundServerKind kind) : m_kind(kind)
    {
        for (const char* name : kVariables) {
            const char* old = std::getenv(name);
            m_savedEnvironment.emplace_back(name, old != nullptr ? std::optional<std::string>(old)
                                                                 : std::nullopt);
        }
        Start();
    }

    ~PrivateSoundServer()
    {
        Stop();
        for (const auto& [name, value] : m_savedEnvironment) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    SoundServerKind Kind() const { return m_kind; }
    const std::string& Folder() const { return m_folder; }
    std::string HomeFolder() const { return m_folder + "/home"; }
    std::string RuntimeFolder() const { return m_folder + "/runtime"; }
    bool Running() const { return !m_processes.empty(); }

    // The variables set for the server and its clients, name to value.
    std::map<std::string, std::string> Environment() const { return m_environment; }

    // Runs pactl with these arguments against the server; its standard output. Throws when
    // pactl fails, with its error output.
    std::string Pactl(const std::vector<std::string>& arguments) const
    {
        auto [status, output] = RunPactl(arguments);
        if (status != 0)
            throw std::runtime_error("pactl failed (" + std::to_string(status) + "): " + output);
        return output;
    }

    // Like Pactl, but the exit status and the output (standard and error) are returned.
    std::pair<int, std::string> RunPactl(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> command{"pactl"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return RunAndCapture(command);
    }

    // Loads a null sink; returns the module index pactl printed. The server's null sinks never
    // rewind: a sink that rewinds to mix a new stream in at once renders its start again after
    // the monitor passed that place, so the monitor (what a test hears) would miss it.
    std::string LoadNullSink(const std::string& name, const std::string& description) const
    {
        std::string output = Pactl({"load-module", "module-null-sink", "sink_name=" + name, "norewinds=1",
                                    "sink_properties='device.description=\"" + description + "\"'"});
        while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
            output.pop_back();
        return output;
    }

    // Makes the sink the server's default and waits until the server reports it (PipeWire's
    // session manager applies it a moment later).
    void SetDefaultSink(const std::string& name)
    {
        Pactl({"set-default-sink", name});
        WaitUntil([&] { return DefaultSink() == name; });
    }

    std::string DefaultSink() const { return Trimmed(RunPactl({"get-default-sink"}).second); }

    // Unloads the module that made the sink (a null sink loaded by name).
    void UnloadSink(const std::string& name) const
    {
        std::istringstream modules(Pactl({"list", "short", "modules"}));
        std::string line;
        while (std::getline(modules, line)) {
            // index, module name, arguments
            std::istringstream fields(line);
            std::string index, module, argument;
            std::getline(fields, index, '\t');
            std::getline(fields, module, '\t');
            while (fields >> argument)
                if (module == "module-null-sink" && argument == "sink_name=" + name) {
                    Pactl({"unload-module", index});
                    return;
                }
        }
        throw std::runtime_error("no module made the sink " + name + ":\n" + Pactl({"list", "short", "modules"}));
    }

    // Stops (SIGSTOP) or continues every process started: a stopped server accepts connections
    // but never answers.
    void Freeze(bool frozen) const
    {
        for (pid_t pid : m_processes)
            ::kill(-pid, frozen ? SIGSTOP : SIGCONT);
    }

    // Kills every process started (each in its own process group), waits for them and removes
    // the private folder. The environment keeps pointing at the removed places.
    void Stop()
    {
        Freeze(false);
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
            EndProcessGroup(*it);
        m_processes.clear();
        if (!m_folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
            m_folder.clear();
        }
    }

    // A new server in a new folder, as after the constructor.
    void Restart()
    {
        Stop();
        Start();
    }

    // The server ends and starts again in the same places, as when it crashes and the session
    // starts it again: its clients find it at the same address.
    void RestartInPlace()
    {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
            EndProcessGroup(*it);
        m_processes.clear();
        for (const char* socket : {"/bus", "/pipewire-0", "/pipewire-0.lock", "/pulse/native", "/pulse/pid"})
            ::unlink((RuntimeFolder() + socket).c_str());
        StartIn();
    }

private:
    static constexpr const char* kVariables[] = {
        "XDG_RUNTIME_DIR", "HOME",           "XDG_CONFIG_HOME",         "XDG_STATE_HOME",
        "XDG_DATA_HOME",   "XDG_CACHE_HOME", "PULSE_RUNTIME_PATH",      "PULSE_STATE_PATH",
        "PULSE_SERVER",    "PULSE_CLIENTCONFIG", "PULSE_COOKIE",        "DBUS_SESSION_BUS_ADDRESS",
        "PIPEWIRE_RUNTIME_DIR", "PIPEWIRE_REMOTE", "DISPLAY"};

    void Start()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "wh-sound-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_folder = pattern;
        StartIn();
    }

    // Starts the server in m_folder, making what is missing there.
    void StartIn()
    {
        for (const char* sub : {"/runtime", "/runtime/pulse", "/home", "/config", "/state",
                                "/data", "/cache", "/config/wireplumber",
                                "/config/wireplumber/main.lua.d",
                                "/config/wireplumber/bluetooth.lua.d"})
            std::filesystem::create_directory(m_folder + sub);
        ::chmod(RuntimeFolder().c_str(), 0700);
        ::chmod((RuntimeFolder() + "/pulse").c_str(), 0700);

        // Clients never start a server of their own. Shared memory is memfd only, as on a
        // desktop (it costs less than copying through the socket), so nothing of the test goes
        // to /dev/shm.
        WriteText(m_folder + "/client.conf", "autospawn = no\nenable-shm = yes\nenable-memfd = yes\n");
        m_environment = {
            {"XDG_RUNTIME_DIR", RuntimeFolder()},
            {"HOME", HomeFolder()},
            {"XDG_CONFIG_HOME", m_folder + "/config"},
            {"XDG_STATE_HOME", m_folder + "/state"},
            {"XDG_DATA_HOME", m_folder + "/data"},
            {"XDG_CACHE_HOME", m_folder + "/cache"},
            {"PULSE_RUNTIME_PATH", RuntimeFolder() + "/pulse"},
            {"PULSE_STATE_PATH", m_folder + "/state/pulse"},
            {"PULSE_SERVER", "unix:" + RuntimeFolder() + "/pulse/native"},
            {"PULSE_CLIENTCONFIG", m_folder + "/client.conf"},
            {"PULSE_COOKIE", m_folder + "/cookie"},
            {"PIPEWIRE_RUNTIME_DIR", RuntimeFolder()},
        };
        for (const auto& [name, value] : m_environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        ::unsetenv("PIPEWIRE_REMOTE");
        // No display: nothing may reach an X session's sound server properties.
        ::unsetenv("DISPLAY");

        if (m_kind == SoundServerKind::PulseAudio)
            StartPulseAudio();
        else
            StartPipeWire();
    }

    void StartPulseAudio()
    {
        // A private bus keeps the server off the machine's session bus.
        StartSessionBus();
        const std::string script = m_folder + "/server.pa";
        WriteText(script, "load-module module-native-protocol-unix\n"
                          "load-module module-suspend-on-idle\n"
                          "load-module module-null-sink sink_name=real norewinds=1 "
                          "sink_properties=device.description=Real\n");
        m_processes.push_back(Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--disable-shm=no", "--use-pid-file=no", "-F", script,
                                     "--log-target=file:" + m_folder + "/pulseaudio.log"},
                                    m_folder + "/pulseaudio.out"));
        WaitUntilAnswering();
    }

    void StartPipeWire()
    {
        StartSessionBus();
        // No hardware monitors: the test server must never open the machine's own devices.
        WriteText(m_folder + "/config/wireplumber/main.lua.d/90-no-hardware.lua",
                  "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
                  "libcamera_monitor.enabled = false\n");
        WriteText(m_folder + "/config/wireplumber/bluetooth.lua.d/90-no-bluetooth.lua",
                  "bluez_monitor.enabled = false\n");
        m_processes.push_back(Spawn({"pipewire"}, m_folder + "/pipewire.log"));
        WaitForFile(RuntimeFolder() + "/pipewire-0");
        m_processes.push_back(Spawn({"wireplumber"}, m_folder + "/wireplumber.log"));
        m_processes.push_back(Spawn({"pipewire-pulse"}, m_folder + "/pipewire-pulse.log"));
        WaitUntilAnswering();
        Pactl({"load-module", "module-null-sink", "sink_name=real", "norewinds=1",
               "sink_properties=device.description=Real"});
        // The session manager makes the new sink the default a moment later; wait for it so a
        // test starts from the same state as with PulseAudio.
        WaitUntil([&] { return Trimmed(RunPactl({"get-default-sink"}).second) == "real"; });
    }

    void StartSessionBus()
    {
        const std::string socket = RuntimeFolder() + "/bus";
        const std::string config = m_folder + "/session-bus.conf";
        WriteText(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                          "Configuration 1.0//EN\" "
                          "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                          "<busconfig><type>session</type><listen>unix:path=" +
                              socket +
                              "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                              "</busconfig>\n");
        m_processes.push_back(Spawn({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config},
                                    m_folder + "/dbus.log"));
        WaitForFile(socket);
        m_environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + socket;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_environment["DBUS_SESSION_BUS_ADDRESS"].c_str(), 1);
    }

    void WaitUntilAnswering()
    {
        WaitUntil([&] { return RunPactl({"info"}).first == 0; });
    }

    template <typename Condition> void WaitUntil(Condition condition)
    {
        const auto end = std::chrono::steady_clock::now() + kStartLimit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) {
                std::string logs = Logs();
                Stop();
                throw std::runtime_error(std::string("private ") + SoundServerName(m_kind) +
                                         " did not come up; logs:\n" + logs);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void WaitForFile(const std::string& path)
    {
        WaitUntil([&] { return std::filesystem::exists(path); });
    }

    std::string Logs() const
    {
        std::string logs;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder, ignored)) {
            if (entry.path().extension() == ".log" || entry.path().extension() == ".out") {
                std::ifstream in(entry.path());
                std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                logs += "== " + entry.path().filename().string() + "\n" +
                        text.substr(text.size() > 4000 ? text.size() - 4000 : 0) + "\n";
            }
        }
        return logs;
    }

    static std::string Trimmed(std::string text)
    {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }

    static void WriteText(const std::string& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }

    static std::vector<char*> ArgumentPointers(const std::vector<std::string>& command)
    {
        std::vector<char*> pointers;
        for (const std::string& argument : command)
            pointers.push_back(const_cast<char*>(argument.c_str()));
        pointers.push_back(nullptr);
        return pointers;
    }

    // Starts a process as the leader of a new process group, its output going to logPath.
    static pid_t Spawn(const std::vector<std::string>& command, const std::string& logPath)
    {
        std::vector<char*> arguments = ArgumentPointers(command);
        const pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork failed");
        if (pid == 0) {
            ::setpgid(0, 0);
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (log >= 0) {
                ::dup2(log, STDOUT_FILENO);
                ::dup2(log, STDERR_FILENO);
            }
            if (nothing >= 0)
                ::dup2(nothing, STDIN_FILENO);
            ::execvp(arguments[0], arguments.data());
            ::_exit(127);
        }
        ::setpgid(pid, pid);
        return pid;
    }

    static std::pair<int, std::string> RunAndCapture(const std::vector<std::string>& command)
    {
        std::vector<char*> arguments = ArgumentPointers(command);
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        const pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork failed");
        if (pid == 0) {
            ::dup2(pipeEnds[1], STDOUT_FILENO);
            ::dup2(pipeEnds[1], STDERR_FILENO);
            ::execvp(arguments[0], arguments.data());
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        std::string output;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
            if (got > 0)
                output.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                break;
        }
        ::close(pipeEnds[0]);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
    }

    static void EndProcessGroup(pid_t pid)
    {
        ::kill(-pid, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + kStopLimit;
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() > end) {
                ::kill(-pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // Whatever the leader left in its group goes too.
        ::kill(-pid, SIGKILL);
    }

    SoundServerKind m_kind;
    std::string m_folder;
    std::map<std::string, std::string> m_environment;
    std::vector<pid_t> m_processes;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnvironment;
};
