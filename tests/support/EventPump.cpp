#include "EventPump.h"

#include <QEventLoop>
#include <QTimer>

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    if (done()) {
        return true;
    }
    // A nested loop that sleeps between events; a short timer looks at the condition.
    const auto end = std::chrono::steady_clock::now() + limit;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || std::chrono::steady_clock::now() >= end) {
            loop.quit();
        }
    });
    poll.start(2);
    loop.exec();
    return done();
}

void PumpFor(std::chrono::milliseconds period) {
    PumpUntil([] { return false; }, period);
}
