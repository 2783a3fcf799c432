#pragma once
// A clock for tests: a rest advances it at once by the time asked, so a pause
// of seconds takes no real time; onRest sees the clock after each rest.

#include <algorithm>
#include <functional>

#include "common/Clock.h"

namespace zandrel::test {

class FakeClock : public Clock {
  public:
    qint64 now() const override { return now_; }
    void rest(qint64 ms) override {
        now_ += std::max<qint64>(ms, 0);
        ++rests;
        if (onRest)
            onRest();
    }

    int rests = 0;
    std::function<void()> onRest;

  private:
    qint64 now_ = 1'000'000;  // no test may count on a clock that starts at 0
};

}  // namespace zandrel::test
