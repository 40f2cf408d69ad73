// Deferred calls: run by the event loop in every deferred-call sweep while
// active.
#pragma once

class DpcHandler
{
public:
    virtual void Invoke() = 0;
    virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler
{
public:
    explicit DpcHandler1(void (*f)()) : function(f) {}
    void Invoke() override { function(); }

private:
    void (*function)();
};

template <class T>
class TDpcHandler : public DpcHandler
{
public:
    TDpcHandler(T* o, void (T::*m)()) : object(o), member(m) {}
    void Invoke() override { (object->*member)(); }

private:
    T* object;
    void (T::*member)();
};

class Dpc
{
public:
    Dpc() = default;
    Dpc(const Dpc&) = delete;
    Dpc& operator=(const Dpc&) = delete;
    ~Dpc();

    // Each Bind destroys the previous handler; a failed allocation leaves
    // it bound.
    void Bind(DpcHandler* h);
    void Bind(void (*function)()) { Bind(new DpcHandler1(function)); }
    template <class T>
    void Bind(T* object, void (T::*member)()) { Bind(new TDpcHandler<T>(object, member)); }
    template <class T>
    void Bind(void (T::*member)(), T* object) { Bind(new TDpcHandler<T>(object, member)); }

    void Activate();
    void Deactivate();
    bool is_active() const { return active; }
    // Touches nothing after the handler returns: the callback may destroy
    // this Dpc.
    void Invoke();

private:
    DpcHandler* handler = nullptr;
    bool active = false;
};
