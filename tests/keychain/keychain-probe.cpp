// One operation of the token store, for the per-provider session script: prints "token TEXT",
// "none" or "status CODE CAUSE" (CAUSE "confirm" for per-client confirmation, else "-").
//
//   keychain-probe read | authorize | save TOKEN
#include <QCoreApplication>
#include <cstdio>

#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"

using namespace quorvane;

namespace {

void print(const std::optional<QString>& token) {
    if (token) {
        std::printf("token %s\n", token->toUtf8().constData());
    } else {
        std::printf("none\n");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString operation = arguments.value(0);
    try {
        if (operation == u"read") {
            print(KeychainAgentTokenStore(false).read());
        } else if (operation == u"authorize") {
            KeychainAgentTokenStore::setUserInteractionAllowed(true);
            print(KeychainAgentTokenStore(true).read());
        } else if (operation == u"save" && arguments.size() == 2) {
            KeychainAgentTokenStore(false).save(arguments.at(1));
            std::printf("saved\n");
        } else {
            std::fprintf(stderr, "usage: keychain-probe read | authorize | save TOKEN\n");
            return 2;
        }
    } catch (const AgentTokenStorageError& error) {
        const bool confirm =
            error.cause() == AgentTokenStorageError::Cause::clientConfirmationRequired;
        std::printf("status %d %s\n", error.status(), confirm ? "confirm" : "-");
    }
    return 0;
}
