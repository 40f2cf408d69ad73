// Gateway control daemon entry point.
#include "framework/child_wait.h"
#include "framework/multiplexer.h"
#include "framework/signals.h"

namespace {

void on_terminate(int)
{
    multiplexer.terminate();
}

} // namespace

int main()
{
    IPC::Signal::handle(SIGTERM, &on_terminate, 0);
    IPC::Signal::handle(SIGINT, &on_terminate, 0);
    // Reaps children and keeps the loop with one descriptor to wait on.
    ChildWait::Activate();
    multiplexer.run(true, true);
    return 0;
}
