#include "framework/dpc.h"

#include "framework/multiplexer.h"

Dpc::~Dpc()
{
    Deactivate();
    delete handler;
}

void Dpc::Bind(DpcHandler* h)
{
    delete handler;
    handler = h;
}

void Dpc::Activate()
{
    if (active)
        return;
    multiplexer.attach(this);
    active = true;
}

void Dpc::Deactivate()
{
    if (!active)
        return;
    multiplexer.dettach(this);
    active = false;
}

void Dpc::Invoke()
{
    if (handler)
        handler->Invoke();
}
