// realpath, O_CLOEXEC
#define _DEFAULT_SOURCE

#include "app/QuorvaneApp.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "app/PanelModule.h"
#include "keychain/SilentTokenRead.h"

static const char help_text[] =
    "Usage: quorvane [--read-agent-token | --help | --version]\n"
    "\n"
    "The control panel of the Quorvane Agent. Without an option it opens the panel's\n"
    "window; a second launch in the same session brings the first window to the front.\n"
    "\n"
    "  --read-agent-token  write the device token kept in the desktop's password store\n"
    "                      (Secret Service) to standard output, exactly as stored and\n"
    "                      without a newline, never showing a dialog; the output is\n"
    "                      empty when no token is stored. Exit status 1 when the token\n"
    "                      cannot be read now (the store is locked or unreachable).\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Each option counts only on its own; any other command line opens the window.\n";

static const char version_text[] = "quorvane " QUORVANE_VERSION " (" QUORVANE_BUILD_NUMBER ")\n";

QuorvaneMode quorvane_mode_for(int argc, const char* const* argv) {
    if (argc != 2 || argv[1] == NULL) {
        return QUORVANE_MODE_PANEL;
    }
    if (strcmp(argv[1], QUORVANE_READ_AGENT_TOKEN_ARGUMENT) == 0) {
        return QUORVANE_MODE_TOKEN_OUTPUT;
    }
    if (strcmp(argv[1], "--help") == 0) {
        return QUORVANE_MODE_HELP;
    }
    return strcmp(argv[1], "--version") == 0 ? QUORVANE_MODE_VERSION : QUORVANE_MODE_PANEL;
}

static int write_all(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        bytes += written;
        length -= (size_t)written;
    }
    return 1;
}

// The agent reads standard output only; nothing GLib or the Secret Service client might report
// may reach the caller's standard error or, through it, the journal.
static void silence_standard_error(void) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

_Noreturn static void run_token_output_mode(void) {
    silence_standard_error();
    // A reader that went away makes the write fail (status 1) instead of killing the process.
    signal(SIGPIPE, SIG_IGN);
    QuorvaneTokenRead read = quorvane_read_token_silently();
    int status = read.status == 0 ? 0 : 1;
    if (read.found && !write_all(STDOUT_FILENO, read.token, read.length)) {
        status = 1;
    }
    quorvane_token_read_release(&read);
    // Nothing is buffered; skipping exit handlers keeps the exit from racing the D-Bus client's
    // worker thread.
    _exit(status);
}

static int print(const char* text) {
    return write_all(STDOUT_FILENO, text, strlen(text)) ? 0 : 1;
}

// The prefix is the parent of the folder holding the running executable.
static char* panel_module_file(void) {
    char* program = realpath("/proc/self/exe", NULL);
    if (!program) {
        return NULL;
    }
    for (int level = 0; level < 2; ++level) {
        char* slash = strrchr(program, '/');
        if (slash) {
            *slash = '\0';
        }
    }
    const size_t size = strlen(program) + sizeof "/" QUORVANE_PANEL_MODULE_PATH;
    char* file = malloc(size);
    if (file) {
        snprintf(file, size, "%s/%s", program, QUORVANE_PANEL_MODULE_PATH);
    }
    free(program);
    return file;
}

static int run_panel(int argc, char** argv) {
    char* file = panel_module_file();
    if (!file) {
        fprintf(stderr, "quorvane: cannot load the panel: the running program is not found\n");
        return 1;
    }
    // Kept loaded for the life of the process.
    void* module = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    free(file);
    if (!module) {
        fprintf(stderr, "quorvane: cannot load the panel: %s\n", dlerror());
        return 1;
    }
    int (*entry)(int*, char**) = NULL;
    // POSIX's way of turning dlsym's object pointer into a function pointer.
    *(void**)&entry = dlsym(module, QUORVANE_PANEL_MODULE_ENTRY);
    if (!entry) {
        fprintf(stderr, "quorvane: the panel module has no entry point: %s\n", dlerror());
        return 1;
    }
    return entry(&argc, argv);
}

int quorvane_app_run(int argc, char** argv) {
    switch (quorvane_mode_for(argc, (const char* const*)argv)) {
        case QUORVANE_MODE_TOKEN_OUTPUT:
            run_token_output_mode();
        case QUORVANE_MODE_HELP:
            return print(help_text);
        case QUORVANE_MODE_VERSION:
            return print(version_text);
        case QUORVANE_MODE_PANEL:
            break;
    }
    return run_panel(argc, argv);
}
