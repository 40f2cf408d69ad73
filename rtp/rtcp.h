#pragma once

#include <cstdint>
#include <string>
#include <vector>

// RTCP packets (RFC 3550) that an RTP slot sends: the source description
// when its session starts and the goodbye when it ends. Nothing is ever
// received.

namespace RTPC {

class Msg
{
public:
    Msg() = default;
    Msg(const Msg&) = default;
    Msg& operator=(const Msg&) = default;
    virtual ~Msg() = default;

    virtual unsigned pt() const = 0;
    virtual unsigned count() const = 0;
    // Writes what follows the common header; the octets written, each
    // kind padded to whole 32-bit words, 0 when it does not fit.
    virtual unsigned encode_body(char* buf, unsigned size) const = 0;

    // One whole packet: the octets written, 0 when it does not fit.
    unsigned encode(char* buf, unsigned size) const;
};

// One chunk: the sender's SSRC and its items.
class SDES : public Msg
{
public:
    class Item
    {
    public:
        enum Type { CNAME = 1, EMAIL = 3, PHONE = 4 };
        Item(Type type, std::string text) : mType(type), mText(std::move(text)) {}
        Type type() const { return mType; }
        const std::string& text() const { return mText; }

    private:
        Type mType;
        std::string mText;
    };

    explicit SDES(uint32_t ssrc) : mSsrc(ssrc) {}
    void add(Item::Type type, std::string text) { mItems.emplace_back(type, std::move(text)); }

    unsigned pt() const override { return 202; }
    unsigned count() const override { return 1; }
    // Items that do not fit are left out from the first one that does not.
    unsigned encode_body(char* buf, unsigned size) const override;

private:
    uint32_t mSsrc;
    std::vector<Item> mItems;
};

class BYE : public Msg
{
public:
    BYE(uint32_t ssrc, std::string reason) : mSsrc(ssrc), mReason(std::move(reason)) {}

    unsigned pt() const override { return 203; }
    unsigned count() const override { return 1; }
    // A reason that does not fit is shortened.
    unsigned encode_body(char* buf, unsigned size) const override;

private:
    uint32_t mSsrc;
    std::string mReason;
};

} // namespace RTPC
