#include "desktopnotifier.h"

namespace platform {

// Windows has no notification service of this kind: the tray balloon is it.
struct desktopNotifier::impl
{
    fallback showInstead;
};

constexpr int desktopNotifier::kReplyTimeoutMs;

desktopNotifier::desktopNotifier(fallback showInstead, QObject* parent, int)
    : QObject(parent)
    , d(new impl{std::move(showInstead)})
{
}

desktopNotifier::~desktopNotifier() = default;

void desktopNotifier::notify(const QString& summary, const QString& body, bool critical, const QString&)
{
    if (d->showInstead)
        d->showInstead(summary, body, critical);
}

int desktopNotifier::callsInFlight() const
{
    return 0;
}

} // namespace platform
