#include "net/tpkt.h"

#include "framework/trace.h"

#include <cstring>
#include <ostream>
#include <sstream>
#include <string>

Tpkt_protocol::Tpkt_protocol() : mName("TPKT")
{
}

void Tpkt_protocol::reset()
{
    mHeaderLen = 0;
    mPayloadLen = 0;
    mPending.clear();
}

void Tpkt_protocol::local_prepare_head(Packet& p)
{
    p.reserve_head(header_size);
}

void Tpkt_protocol::local_activate()
{
    reset();
    mActive = true;
    on_activate();
}

void Tpkt_protocol::local_deactivate()
{
    mActive = false;
    reset();
    on_deactivate(Protocol_status(new Protocol_status_success(this, "deactivated")));
}

void Tpkt_protocol::on_deactivate(Protocol_status status)
{
    mActive = false;
    reset();
    Protocol::on_deactivate(status);
}

void Tpkt_protocol::fail(std::string text)
{
    on_deactivate(Protocol_status(new Protocol_status_error(this, std::move(text))));
}

bool Tpkt_protocol::header_complete()
{
    unsigned length = (unsigned(mHeader[2]) << 8) | mHeader[3];
    if (mHeader[0] != version) {
        fail("bad frame version " + std::to_string(unsigned(mHeader[0])));
        return false;
    }
    if (length < header_size) {
        fail("bad frame length " + std::to_string(length));
        return false;
    }
    mPayloadLen = length - header_size;
    return true;
}

void Tpkt_protocol::receive(Packet& in)
{
    // The rest after a burst stays in the packet: the stream layer offers
    // it again in the next pass.
    for (unsigned frames = 0; mActive && !in.empty() && frames < frames_per_receive; ++frames) {
        if (mHeaderLen < header_size) {
            if (mHeaderLen == 0 && in.length() >= header_size) {
                std::memcpy(mHeader, in.pull(header_size), header_size);
                mHeaderLen = header_size;
            }
            while (mHeaderLen < header_size && !in.empty())
                mHeader[mHeaderLen++] = in.pull8();
            if (mHeaderLen < header_size || !header_complete())
                return;
        }

        Packet frame;
        unsigned have = mPending.length();
        unsigned need = mPayloadLen - have;
        if (mPending.null() && in.length() == need) {
            // The rest of this read is exactly one frame: pass it on as is.
            frame = in;
            in.clear();
        } else {
            // Room for a header, so a frame echoed or passed on is not
            // copied to get one.
            if (mPending.null())
                mPending.reserve_head(header_size);
            unsigned n = in.length() < need ? in.length() : need;
            if (n)
                std::memcpy(mPending.put(n), in.pull(n), n);
            if (mPending.length() < mPayloadLen)
                return;
            frame = mPending;
            mPending.clear();
        }
        mHeaderLen = 0;
        mPayloadLen = 0;
        ++mFramesIn;
        // The owner may take the link down from here; the loop test sees it.
        on_message(frame);
    }
}

void Tpkt_protocol::message(Packet& p)
{
    static Profile::Point point("Tpkt_protocol::message");
    point.begin();
    send_frame(p);
    point.end();
}

void Tpkt_protocol::send_frame(Packet& p)
{
    unsigned len = p.length();
    if (len > max_payload) {
        std::ostringstream os;
        os << "payload of " << len << " octets does not fit a frame";
        on_status(Protocol_status(new Protocol_status_error(this, os.str())));
        return;
    }
    if (p.null() || p._headroom() < header_size) {
        // The sender did not prepare the head room: copy behind a new one.
        Packet f;
        prepare_head(f);
        if (len)
            std::memcpy(f.put(len), p.data(), len);
        p = f;
    }
    unsigned char* h = p.push(header_size);
    h[0] = version;
    h[1] = 0;
    h[2] = static_cast<unsigned char>((len + header_size) >> 8);
    h[3] = static_cast<unsigned char>(len + header_size);
    ++mFramesOut;
    transmit(p);
}

void Tpkt_protocol::protocol_info(std::ostream& os) const
{
    os << name() << " in=" << mFramesIn << " out=" << mFramesOut;
    if (mHeaderLen)
        os << " gathering " << mPending.length() << "/" << mPayloadLen;
}
