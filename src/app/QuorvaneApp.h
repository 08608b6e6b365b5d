#pragma once

namespace quorvane {

class AgentTokenStoring;

// The application object. Constructing it forbids keychain prompts for the whole process and then
// picks the mode from the arguments: the token-output mode ends the process inside the
// constructor; otherwise `exec` runs the control panel.
class QuorvaneApp {
public:
    QuorvaneApp(int& argc, char** argv);

    QuorvaneApp(const QuorvaneApp&) = delete;
    QuorvaneApp& operator=(const QuorvaneApp&) = delete;

    // Loads the panel module and runs the control panel until it quits; returns the exit
    // status (1 when the module cannot be loaded).
    int exec();

    // Exactly the program path and the flag, compared as whole strings.
    static bool requestsTokenOutput(int argc, const char* const* argv);

    // Writes the stored token's UTF-8 bytes to `fd`, nothing when none is stored; returns the exit
    // status: 0, or 1 when the store or the write failed.
    static int writeStoredToken(const AgentTokenStoring& store, int fd);

private:
    [[noreturn]] static void runTokenOutputMode();

    int& argc_;
    char** argv_;
};

}  // namespace quorvane
