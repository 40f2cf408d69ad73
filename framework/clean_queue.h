// Fixed-capacity ring queue that drops its reference to an element as soon
// as the element leaves the queue.
#pragma once

template <class T, unsigned N>
class CleanQueue
{
    static_assert(N > 0, "CleanQueue needs room for one element");

public:
    CleanQueue() = default;
    CleanQueue(const CleanQueue&) = delete;
    CleanQueue& operator=(const CleanQueue&) = delete;

    // Adds at the back.
    bool put(const T& x)
    {
        if (count_ >= N)
            return false;
        slots[tail] = x;
        tail = inc_index(tail);
        ++count_;
        return true;
    }

    // Adds at the front: x is the next element get() returns.
    bool append(const T& x)
    {
        if (count_ >= N)
            return false;
        head = dec_index(head);
        slots[head] = x;
        ++count_;
        return true;
    }

    bool get(T* out) { return get(*out); }
    bool get(T& out)
    {
        if (count_ == 0)
            return false;
        out = slots[head];
        slots[head] = T();
        head = inc_index(head);
        --count_;
        return true;
    }

    // Takes from the back.
    bool get_last(T* out)
    {
        if (count_ == 0)
            return false;
        tail = dec_index(tail);
        *out = slots[tail];
        slots[tail] = T();
        --count_;
        return true;
    }

    bool preview(T* out) const
    {
        if (count_ == 0)
            return false;
        if (out)
            *out = slots[head];
        return true;
    }

    unsigned count() const { return count_; }
    bool empty() const { return count_ == 0; }
    unsigned size() const { return N; }

    // Releases every element still held, so no buffer outlives the queue's
    // use of it.
    void clear()
    {
        for (unsigned i = 0; i < N; ++i)
            slots[i] = T();
        head = tail = count_ = 0;
    }

    static unsigned inc_index(unsigned i) { return i >= N - 1 ? 0 : i + 1; }
    static unsigned dec_index(unsigned i) { return i == 0 ? N - 1 : i - 1; }

    unsigned head_index() const { return head; }
    unsigned tail_index() const { return tail; }

private:
    T slots[N] = {};
    unsigned head = 0;
    unsigned tail = 0;
    unsigned count_ = 0;
};
