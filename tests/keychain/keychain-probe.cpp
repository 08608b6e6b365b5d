// One operation of the token store for provider-cases.sh: prints "token TEXT", "none" or
// "status CODE CAUSE" (CAUSE "confirm" for per-client confirmation, else "-").
//   keychain-probe read | authorize | store-allows-ui | save TOKEN
#include <QCoreApplication>
#include <cstdio>

#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"

using namespace quorvane;

namespace {

void print(const std::optional<QString>& token) {
    std::printf("%s\n", token ? ("token " + token->toUtf8()).constData() : "none");
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString operation = arguments.value(0);
    try {
        KeychainAgentTokenStore::setUserInteractionAllowed(operation == u"authorize");
        if (operation == u"save" && arguments.size() == 2) {
            KeychainAgentTokenStore(false).save(arguments.at(1));
            std::printf("saved\n");
        } else if (operation == u"read" || operation == u"store-allows-ui" ||
                   operation == u"authorize") {
            print(KeychainAgentTokenStore(operation != u"read").read());
        } else {
            return 2;
        }
    } catch (const AgentTokenStorageError& error) {
        const bool confirm =
            error.cause() == AgentTokenStorageError::Cause::clientConfirmationRequired;
        std::printf("status %d %s\n", error.status(), confirm ? "confirm" : "-");
    }
    return 0;
}
