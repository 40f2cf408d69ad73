// TPKT alone in a list whose owner records what comes up.
#pragma once

#include "net/tpkt.h"

#include "net_util.h"

#include <vector>

namespace nettest {

class TpktRig : public ProtocolsList
{
public:
    TpktRig()
    {
        tpkt = new Tpkt_protocol;
        add_protocol_tail(tpkt);
        tpkt->activate();
    }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        down = true;
        status = s;
    }
    void list_on_message(Packet& p) override { frames.push_back(bytes(p)); }
    void feed(Bytes const& b)
    {
        Packet p = packet(b);
        tpkt->receive(p);
    }

    Tpkt_protocol* tpkt;
    std::vector<Bytes> frames;
    bool down = false;
    Protocol_status status;
};

} // namespace nettest
