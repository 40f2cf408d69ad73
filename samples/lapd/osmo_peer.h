// libosmocore's LAPD core as an independent Q.921 peer (tests and
// benchmarks only). We drive it through its public interface: frames from
// our link are decoded into its message context, and the frames it sends
// are encoded back into octets, with a two-octet address and modulo 128
// control fields.
#pragma once

extern "C" {
#include <osmocom/core/logging.h>
#include <osmocom/core/msgb.h>
#include <osmocom/core/prim.h>
#include <osmocom/core/timer.h>
#include <osmocom/gsm/lapd_core.h>
}

#include "samples/lapd/wire.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace osmopeer {

typedef std::vector<unsigned char> Bytes;

// The modifier bits of the U frames as the core names them: the five M bits
// of the Q.921 control octet (bits 3-4 and 6-8).
inline unsigned char u_control(unsigned char m, bool pf)
{
    return (unsigned char)(((m & 0x1C) << 3) | (pf ? 0x10 : 0) | ((m & 0x03) << 2) | 0x03);
}

inline unsigned char u_modifier(unsigned char control)
{
    return (unsigned char)(((control >> 3) & 0x1C) | ((control >> 2) & 0x03));
}

// Both clocks the core's timers may read, moved by hand.
inline void clock_start()
{
    osmo_gettimeofday_override = true;
    osmo_gettimeofday_override_time = timeval{1000, 0};
    osmo_clock_override_enable(CLOCK_MONOTONIC, true);
}

inline void clock_advance(unsigned ms)
{
    osmo_gettimeofday_override_add(ms / 1000, (ms % 1000) * 1000);
    osmo_clock_override_add(CLOCK_MONOTONIC, ms / 1000, long(ms % 1000) * 1000000);
    osmo_timers_prepare();
    osmo_timers_update();
}

// The core logs every event to stderr unless logging is set up: set up
// with no target, it logs nowhere.
inline void quiet_logging()
{
    static bool done = false;
    if (done)
        return;
    static log_info_cat const cats[1] = {};
    static log_info const info = {nullptr, cats, 0, 0, nullptr, 0};
    log_init(&info, nullptr);
    done = true;
}

class Peer : public lapdwire::End
{
public:
    explicit Peer(lapd_mode mode, char const* name = "osmo") : dl(mLink.dl)
    {
        mLink.self = this;
        quiet_logging();
        std::memset(&mLink.dl, 0, sizeof mLink.dl);
        lapd_dl_init2(&dl, 7, 128, 260, name);
        lapd_set_mode(&dl, mode);
        dl.use_sabme = 1;
        dl.reestablish = 1;
        dl.n200 = 3;
        dl.n200_est_rel = 3;
        dl.t200_sec = 1;
        dl.t200_usec = 0;
        dl.t203_sec = 10;
        dl.t203_usec = 0;
        dl.send_ph_data_req = &Peer::ph_data_req;
        dl.send_dlsap = &Peer::dlsap;
    }
    ~Peer() override { lapd_dl_exit(&dl); }
    Peer(Peer const&) = delete;
    Peer& operator=(Peer const&) = delete;

    // DL-ESTABLISH, DL-DATA and DL-RELEASE requests.
    void establish() { request(PRIM_DL_EST, nullptr, 0); }
    void send(unsigned char const* l3, size_t len) { request(PRIM_DL_DATA, l3, len); }
    void release() { request(PRIM_DL_REL, nullptr, 0); }

    // One frame from the wire; false when it cannot be read as LAPD.
    bool receive(unsigned char const* f, size_t len)
    {
        if (len < 3)
            return false;
        lapd_msg_ctx lctx;
        std::memset(&lctx, 0, sizeof lctx);
        lctx.dl = &dl;
        lctx.n201 = 260;
        lctx.sapi = f[0] >> 2;
        lctx.cr = (f[0] >> 1) & 1;
        lctx.tei = f[1] >> 1;
        size_t head;
        unsigned char c = f[2];
        if (!(c & 1) || (c & 3) == 1) {
            if (len < 4)
                return false;
            head = 4;
            lctx.n_recv = f[3] >> 1;
            lctx.p_f = f[3] & 1;
            if (!(c & 1)) {
                lctx.format = LAPD_FORM_I;
                lctx.n_send = c >> 1;
            } else {
                lctx.format = LAPD_FORM_S;
                lctx.s_u = (c >> 2) & 3;
            }
        } else {
            head = 3;
            lctx.format = LAPD_FORM_U;
            lctx.p_f = (c >> 4) & 1;
            lctx.s_u = u_modifier(c);
        }
        lctx.length = int(len - head);
        msgb* msg = msgb_alloc_headroom(len + 64, 64, "lapd rx");
        std::memcpy(msgb_put(msg, len), f, len);
        // The core takes the message at its information field.
        msg->l2h = msg->data;
        msgb_pull(msg, head);
        msg->l3h = msg->data;
        lapd_ph_data_ind(msg, &lctx);
        return true;
    }

    // As one end of a run.
    std::vector<Bytes> take_frames() override
    {
        std::vector<Bytes> f;
        f.swap(sent);
        return f;
    }
    void on_frame(Bytes const& f) override { unreadable += !receive(f.data(), f.size()); }
    void offer(Bytes const& m) override { send(m.data(), m.size()); }
    unsigned waiting() const override { return llist_count(&dl.send_queue); }
    unsigned outstanding() const override { return (dl.v_send - dl.v_ack) & 0x7F; }

    lapd_datalink& dl;
    std::vector<Bytes> sent; // frames the core sent, in order
    std::vector<std::string> events;
    unsigned unreadable = 0; // frames that were not LAPD

private:
    // The core calls back with its datalink: the peer is found beside it.
    struct Link
    {
        lapd_datalink dl;
        Peer* self;
    };
    static Peer* of(lapd_datalink* d)
    {
        return reinterpret_cast<Link*>(reinterpret_cast<char*>(d) - offsetof(Link, dl))->self;
    }
    Link mLink;

    void request(unsigned prim, unsigned char const* l3, size_t len)
    {
        msgb* msg = msgb_alloc_headroom(len + 128, 64, "lapd req");
        msg->l3h = msg->data;
        if (len)
            std::memcpy(msgb_put(msg, len), l3, len);
        osmo_dlsap_prim dp;
        std::memset(&dp, 0, sizeof dp);
        osmo_prim_init(&dp.oph, 0, prim, PRIM_OP_REQUEST, msg);
        lapd_msg_ctx lctx;
        std::memset(&lctx, 0, sizeof lctx);
        lctx.dl = &dl;
        lctx.n201 = 260;
        lapd_recv_dlsap(&dp, &lctx);
    }

    static int ph_data_req(lapd_msg_ctx* lctx, msgb* msg)
    {
        Peer* self = of(lctx->dl);
        Bytes f;
        f.push_back((unsigned char)(lctx->sapi << 2 | (lctx->cr ? 2 : 0)));
        f.push_back((unsigned char)(lctx->tei << 1 | 1));
        switch (lctx->format) {
        case LAPD_FORM_I:
            f.push_back((unsigned char)(lctx->n_send << 1));
            f.push_back((unsigned char)(lctx->n_recv << 1 | (lctx->p_f ? 1 : 0)));
            break;
        case LAPD_FORM_S:
            f.push_back((unsigned char)(lctx->s_u << 2 | 1));
            f.push_back((unsigned char)(lctx->n_recv << 1 | (lctx->p_f ? 1 : 0)));
            break;
        default:
            f.push_back(u_control(lctx->s_u, lctx->p_f));
            break;
        }
        if (lctx->length > 0) {
            unsigned char const* info = msgb_l3(msg) ? (unsigned char const*)msgb_l3(msg) : msg->data;
            f.insert(f.end(), info, info + lctx->length);
        }
        msgb_free(msg);
        self->sent.push_back(f);
        return 0;
    }

    static int dlsap(osmo_dlsap_prim* dp, lapd_msg_ctx* lctx)
    {
        Peer* self = of(lctx->dl);
        msgb* msg = dp->oph.msg;
        switch (dp->oph.primitive) {
        case PRIM_DL_DATA:
            // The core hands up the information field alone.
            if (msg)
                self->messages.push_back(Bytes(msg->data, msg->data + msgb_length(msg)));
            break;
        case PRIM_DL_EST:
            self->events.push_back(dp->oph.operation == PRIM_OP_CONFIRM ? "est.conf" : "est.ind");
            break;
        case PRIM_DL_REL:
            self->events.push_back(dp->oph.operation == PRIM_OP_CONFIRM ? "rel.conf" : "rel.ind");
            break;
        case PRIM_MDL_ERROR:
            self->events.push_back("error:" + std::to_string(dp->u.error_ind.cause));
            break;
        default:
            break;
        }
        if (msg)
            msgb_free(msg);
        return 0;
    }
};

} // namespace osmopeer
