// Protocol layers stacked in lists. A list's first layer is the wire side:
// packets from the wire go up through `receive` and `on_message`, packets
// for the wire go down through `message` and `transmit`. A list that is
// itself a layer (`ProtocolsFamily`) can sit inside another list.
#pragma once

#include "framework/packet.h"

#include <cstdint>
#include <iosfwd>
#include <string>

class Protocol;
class ProtocolsList;

// A layer's name, compared by text.
class Protocol_name
{
public:
    explicit Protocol_name(std::string text) : mText(std::move(text)) {}
    std::string const& str() const { return mText; }
    bool operator==(Protocol_name const& o) const { return mText == o.mText; }
    bool operator!=(Protocol_name const& o) const { return mText != o.mText; }

private:
    std::string mText;
};

std::ostream& operator<<(std::ostream& os, Protocol_name const& n);

// The name a layer returns from name(), copied from a character string.
class Protocol_name_str : public Protocol_name
{
public:
    explicit Protocol_name_str(char const* text) : Protocol_name(text ? text : "") {}
};

class Protocol_info
{
public:
    virtual ~Protocol_info() = default;
    virtual bool compare_name(Protocol_name const& n) const { return name() == n; }
    virtual Protocol_name const& name() const = 0;
};

// A status report of a layer, handed on in a Smart_pointer and deleted with
// its last reference. It keeps the layer's name rather than relying on the
// layer: a report may outlive the stack that made it.
class Internal_protocol_status
{
public:
    Internal_protocol_status(Protocol const* layer, std::string text);
    virtual ~Internal_protocol_status() = default;
    Internal_protocol_status(Internal_protocol_status const&) = delete;
    Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;

    virtual bool is_error() const = 0;
    // Writes the text; a layer adds its own state by overriding.
    virtual void out(std::ostream& os) const;

    // For identity only: the layer may be gone by the time anyone looks.
    Protocol const* layer() const { return mLayer; }
    std::string const& layer_name() const { return mLayerName; }
    std::string const& text() const { return mText; }

    // Handles that share the report.
    uint32_t ref_counter = 0;

private:
    Protocol const* mLayer;
    std::string mLayerName;
    std::string mText;
};

// A report never changes once made, so every holder shares the one object
// (a copy would also cut a layer's own report down to the base).
template <>
inline void Smart_pointer<Internal_protocol_status>::prepare_for_modify()
{
}

typedef Smart_pointer<Internal_protocol_status> Protocol_status;

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s);
std::ostream& operator<<(std::ostream& os, Protocol_status const& s);

class Protocol_status_error : public Internal_protocol_status
{
public:
    Protocol_status_error(Protocol const* layer, std::string text)
        : Internal_protocol_status(layer, std::move(text)) {}
    bool is_error() const override { return true; }
};

class Protocol_status_success : public Internal_protocol_status
{
public:
    Protocol_status_success(Protocol const* layer, std::string text)
        : Internal_protocol_status(layer, std::move(text)) {}
    bool is_error() const override { return false; }
};

class Protocol : public Protocol_info
{
public:
    Protocol() = default;
    Protocol(Protocol const&) = delete;
    Protocol& operator=(Protocol const&) = delete;
    // Only the owning list deletes a layer; it unlinks it first.
    ~Protocol() override;

    // Head and tail room this layer needs in an outgoing packet.
    virtual void local_prepare_head(Packet& p);
    virtual void local_prepare_tail(Packet& p);
    virtual void local_initialize() {}
    virtual void local_activate() = 0;
    virtual void local_deactivate() = 0;

    // Down to the next lower layer's message, or to the owner's exit.
    virtual void transmit(Packet& p);
    // Up to the next upper layer's receive, or to the owner's exit.
    virtual void on_message(Packet& p);
    // This layer is up: the next upper layer activates, or the owner hears.
    virtual void on_activate();
    // This layer is down: an error goes up, a success goes on down.
    virtual void on_deactivate(Protocol_status status);
    virtual void on_status(Protocol_status status);

    // A packet from the layer above.
    virtual void message(Packet& p) = 0;
    // A packet from the layer below.
    virtual void receive(Packet& p) = 0;

    // Activation starts at the wire side and climbs.
    virtual void activate();
    virtual void deactivate();
    virtual void protocol_info(std::ostream& os) const;

    // Reserves the head room of this layer and of every layer under it,
    // lowest first; a null packet gets a buffer.
    void prepare_head(Packet& p);

    ProtocolsList* owner() const { return mOwner; }
    Protocol* upper() const { return mUpper; }
    Protocol* lower() const { return mLower; }

protected:
    // The head room of the layers under this one (not its own).
    void prepare_below(Packet& p);

private:
    friend class ProtocolsList;
    ProtocolsList* mOwner = nullptr;
    Protocol* mUpper = nullptr;
    Protocol* mLower = nullptr;
};

// Owns its layers: deletes them with itself, and nobody else does.
class ProtocolsList
{
public:
    ProtocolsList() = default;
    ProtocolsList(ProtocolsList const&) = delete;
    ProtocolsList& operator=(ProtocolsList const&) = delete;
    virtual ~ProtocolsList();

    // Puts the layer on top and takes it over.
    void add_protocol_tail(Protocol* p);
    // Deletes every layer, the top one first.
    void delete_protocols();

    Protocol* top_protocol() const { return mTop; }
    Protocol* bottom_protocol() const { return mBottom; }
    bool has_protocols() const { return mBottom != nullptr; }

    virtual void on_activated(Protocol*) {}
    virtual void on_deactivated(Protocol*, Protocol_status) {}

    // The exits of the list. A plain list drops what leaves it; a family
    // carries it on as a layer.
    virtual void list_on_message(Packet&) {}
    virtual void list_transmit(Packet&) {}
    virtual void list_on_status(Protocol*, Protocol_status) {}
    // Head room of whatever lies under the list.
    virtual void list_prepare_below(Packet&) {}

private:
    Protocol* mBottom = nullptr;
    Protocol* mTop = nullptr;
};

// A list of layers that is itself one layer.
class ProtocolsFamily : public Protocol, public ProtocolsList
{
public:
    // Every inner layer's room, lowest first.
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;

    // The inner stack is up or down: so is the family, as a layer.
    void on_activated(Protocol*) override { on_activate(); }
    void on_deactivated(Protocol*, Protocol_status s) override { on_deactivate(s); }

    void list_on_message(Packet& p) override { on_message(p); }
    void list_transmit(Packet& p) override { transmit(p); }
    void list_on_status(Protocol*, Protocol_status s) override { on_status(s); }
    void list_prepare_below(Packet& p) override { prepare_below(p); }
};
