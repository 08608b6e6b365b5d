// One operation of the token store for provider-cases.sh: prints "token TEXT", "none", "saved"
// or "status CODE CAUSE" (CAUSE "confirm" for per-client confirmation, else "-").
//   keychain-probe read | authorize | store-allows-ui | save TOKEN
// All but store-allows-ui run with prompts allowed process-wide, as during an authorisation.
#include <QCoreApplication>
#include <cstdio>

#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"

using namespace quorvane;

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const QString operation = arguments.value(0);
    try {
        KeychainAgentTokenStore::setUserInteractionAllowed(operation != u"store-allows-ui");
        if (operation == u"save" && arguments.size() == 2) {
            KeychainAgentTokenStore(false).save(arguments.at(1));
            std::printf("saved\n");
        } else if (operation == u"read" || operation == u"store-allows-ui" ||
                   operation == u"authorize") {
            const auto token = KeychainAgentTokenStore(operation != u"read").read();
            std::printf("%s\n", token ? ("token " + token->toUtf8()).constData() : "none");
        } else {
            return 2;
        }
    } catch (const AgentTokenStorageError& error) {
        std::printf("status %d %s\n", error.status(),
                    error.cause() == AgentTokenStorageError::Cause::statusOnly ? "-" : "confirm");
    }
    return 0;
}
