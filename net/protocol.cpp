#include "net/protocol.h"

#include <ostream>

std::ostream& operator<<(std::ostream& os, Protocol_name const& n)
{
    return os << n.str();
}

Internal_protocol_status::Internal_protocol_status(Protocol const* layer, std::string text)
    : mLayer(layer), mLayerName(layer ? layer->name().str() : std::string()), mText(std::move(text))
{
}

void Internal_protocol_status::out(std::ostream& os) const
{
    if (!mLayerName.empty())
        os << mLayerName << ": ";
    os << mText;
}

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s)
{
    s.out(os);
    return os;
}

std::ostream& operator<<(std::ostream& os, Protocol_status const& s)
{
    if (s.null())
        return os << "(no status)";
    s->out(os);
    return os;
}

// ---------------------------------------------------------------- Protocol

Protocol::~Protocol()
{
    // A list always unlinks before it deletes; this only guards a layer
    // that was never handed to one.
    mOwner = nullptr;
    mUpper = mLower = nullptr;
}

void Protocol::local_prepare_head(Packet& p)
{
    p.reserve_head(0);
}

void Protocol::local_prepare_tail(Packet&)
{
}

void Protocol::transmit(Packet& p)
{
    if (mLower)
        mLower->message(p);
    else if (mOwner)
        mOwner->list_transmit(p);
}

void Protocol::on_message(Packet& p)
{
    if (mUpper)
        mUpper->receive(p);
    else if (mOwner)
        mOwner->list_on_message(p);
}

void Protocol::on_activate()
{
    if (mUpper)
        mUpper->local_activate();
    else if (mOwner)
        mOwner->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status)
{
    bool error = !status.null() && status->is_error();
    if (error) {
        if (mUpper)
            mUpper->on_deactivate(status);
        else if (mOwner)
            mOwner->on_deactivated(this, status);
    } else {
        if (mLower)
            mLower->deactivate();
        else if (mOwner)
            mOwner->on_deactivated(this, status);
    }
}

void Protocol::on_status(Protocol_status status)
{
    if (mUpper)
        mUpper->on_status(status);
    else if (mOwner)
        mOwner->list_on_status(this, status);
}

void Protocol::activate()
{
    if (mLower)
        mLower->activate();
    else
        local_activate();
}

void Protocol::deactivate()
{
    local_deactivate();
}

void Protocol::protocol_info(std::ostream& os) const
{
    os << name();
}

void Protocol::prepare_below(Packet& p)
{
    if (mLower)
        mLower->prepare_head(p);
    else if (mOwner)
        mOwner->list_prepare_below(p);
}

void Protocol::prepare_head(Packet& p)
{
    prepare_below(p);
    local_prepare_head(p);
}

// ----------------------------------------------------------- ProtocolsList

ProtocolsList::~ProtocolsList()
{
    delete_protocols();
}

void ProtocolsList::add_protocol_tail(Protocol* p)
{
    if (!p)
        return;
    p->mOwner = this;
    p->mUpper = nullptr;
    p->mLower = mTop;
    if (mTop)
        mTop->mUpper = p;
    else
        mBottom = p;
    mTop = p;
}

void ProtocolsList::delete_protocols()
{
    while (Protocol* p = mTop) {
        mTop = p->mLower;
        if (mTop)
            mTop->mUpper = nullptr;
        else
            mBottom = nullptr;
        p->mOwner = nullptr;
        p->mLower = nullptr;
        delete p;
    }
}

// --------------------------------------------------------- ProtocolsFamily

void ProtocolsFamily::local_prepare_head(Packet& p)
{
    p.reserve_head(0);
    for (Protocol* l = bottom_protocol(); l; l = l->upper())
        l->local_prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p)
{
    for (Protocol* l = bottom_protocol(); l; l = l->upper())
        l->local_prepare_tail(p);
}

void ProtocolsFamily::local_activate()
{
    if (Protocol* t = top_protocol())
        t->activate();
}

void ProtocolsFamily::local_deactivate()
{
    if (Protocol* t = top_protocol())
        t->deactivate();
}

void ProtocolsFamily::message(Packet& p)
{
    if (Protocol* t = top_protocol())
        t->message(p);
}

void ProtocolsFamily::receive(Packet& p)
{
    if (Protocol* b = bottom_protocol())
        b->receive(p);
}
