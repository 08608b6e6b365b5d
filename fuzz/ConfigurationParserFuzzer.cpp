// Any text the configuration reader accepts is written back by the writer so that it reads as
// the same folders: parse(serialize(parse(x))) == parse(x). The token is not compared: the
// writer never writes one.
#include <QByteArrayView>
#include <QStringDecoder>
#include <cstdint>
#include <cstdlib>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(data, qsizetype(size)));
    if (decoder.hasError()) {
        return 0;  // the store refuses such a file before parsing it
    }
    AgentConfiguration parsed;
    try {
        parsed = AgentConfigurationStore::parse(text);
    } catch (const AgentConfigurationError&) {
        return 0;
    }
    // A failure to read back what was written escapes as an exception and is reported.
    const AgentConfiguration reread =
        AgentConfigurationStore::parse(AgentConfigurationStore::serialize(parsed));
    if (reread.workspaceRoots != parsed.workspaceRoots) {
        std::abort();
    }
    return 0;
}
