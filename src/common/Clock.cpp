#include "common/Clock.h"

#include <QElapsedTimer>
#include <QThread>

namespace zandrel {

namespace {

class MonotonicClock : public Clock {
  public:
    MonotonicClock() { started_.start(); }
    qint64 now() const override { return started_.elapsed(); }
    void rest(qint64 ms) override {
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    }

  private:
    QElapsedTimer started_;
};

}  // namespace

Clock& SystemClock() {
    static MonotonicClock clock;
    return clock;
}

}  // namespace zandrel
