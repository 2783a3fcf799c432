#pragma once
// A fast checksum of a file's contents (XXH3, 128 bits): what a copy read
// from its source, compared with what it reads back from the disk.

#include <cstddef>
#include <memory>

#include <QtGlobal>

namespace zandrel::fs {

class Checksum {
  public:
    struct Value {
        quint64 low = 0;
        quint64 high = 0;
        friend bool operator==(const Value&, const Value&) = default;
    };

    Checksum();
    ~Checksum();
    Checksum(Checksum&&) noexcept;
    Checksum& operator=(Checksum&&) noexcept;

    void add(const void* data, std::size_t size);
    // A hole: that many zero bytes.
    void addZeros(qint64 count);
    Value value() const;

  private:
    struct State;
    State& state() const;
    mutable std::unique_ptr<State> state_;
};

// What has been read back of a copy so far: its first done bytes.
struct ReadBackSoFar {
    Checksum sum;
    qint64 done = 0;
};

}  // namespace zandrel::fs
