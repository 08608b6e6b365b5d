#include "app/QuorvaneApp.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string_view>

#include "app/PanelModule.h"
#include "config/AgentContract.h"
#include "keychain/KeychainAgentTokenStore.h"

namespace quorvane {

namespace {

bool writeAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}

// The agent reads standard output only; nothing Qt, GLib or the Secret Service client might
// report may reach the caller's standard error or, through it, the journal.
void silenceStandardError() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

using PanelEntry = decltype(&quorvane_run_panel);

// The prefix is the parent of the folder holding the running executable.
QString panelModuleFile() {
    const QString binaryFolder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return QDir::cleanPath(binaryFolder + QStringLiteral("/../") + panelModulePath);
}

PanelEntry loadPanel() {
    // Kept loaded for the life of the process.
    void* module =
        ::dlopen(QFile::encodeName(panelModuleFile()).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "quorvane: cannot load the panel: %s\n", ::dlerror());
        return nullptr;
    }
    auto* entry = reinterpret_cast<PanelEntry>(::dlsym(module, panelModuleEntry));
    if (!entry) {
        std::fprintf(stderr, "quorvane: the panel module has no entry point: %s\n", ::dlerror());
    }
    return entry;
}

}  // namespace

QuorvaneApp::QuorvaneApp(int& argc, char** argv) : argc_(argc), argv_(argv) {
    KeychainAgentTokenStore::setUserInteractionAllowed(false);
    if (requestsTokenOutput(argc, argv)) {
        runTokenOutputMode();
    }
}

int QuorvaneApp::exec() {
    const PanelEntry runPanel = loadPanel();
    return runPanel ? runPanel(&argc_, argv_) : 1;
}

bool QuorvaneApp::requestsTokenOutput(int argc, const char* const* argv) {
    const std::string_view flag(AgentContract::readAgentTokenArgument.data(),
                                static_cast<size_t>(AgentContract::readAgentTokenArgument.size()));
    return argc == 2 && argv[1] != nullptr && std::string_view(argv[1]) == flag;
}

int QuorvaneApp::writeStoredToken(const AgentTokenStoring& store, int fd) {
    std::optional<QString> token;
    try {
        token = store.read();
    } catch (const std::exception&) {
        return 1;
    }
    if (!token) {
        return 0;
    }
    return writeAll(fd, token->toUtf8()) ? 0 : 1;
}

void QuorvaneApp::runTokenOutputMode() {
    silenceStandardError();
    // A reader that went away makes the write fail (status 1) instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    const KeychainAgentTokenStore store(false);
    const int status = writeStoredToken(store, STDOUT_FILENO);
    // Nothing is buffered; skipping static destructors keeps the exit from racing the D-Bus
    // client's worker thread.
    ::_exit(status);
}

}  // namespace quorvane
