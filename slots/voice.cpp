#include "slots/voice.h"

#include "board/device.h"
#include "board/mcc.h"
#include "core/slots.h"
#include "framework/inet.h"
#include "framework/text.h"
#include "protocol/lgcp.h"
#include "slots/voice_record.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

namespace {

constexpr unsigned kConnectTimeoutMs = 5000;
constexpr unsigned kFileBufsize = 8192;

std::string& voice_dir()
{
    static std::string dir = "/usr/local/voice/";
    return dir;
}

// A phrase is a plain name inside the voice folder: nothing that leaves it
// or names another file.
bool acceptable_name(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name.find("..") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

template <class T>
void remove_from(std::vector<T*>& list, T* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

} // namespace

std::string dhost2str(TERM::HostAddress const& host)
{
    return static_cast<const std::string&>(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

// ---------------------------------------------------------------- players

PlaySlotGeneric::PlaySlotGeneric(SlotFactory& factory, Fd channel)
    : VoiceSlot(factory), mTimeslot(Device::Request(channel.lowlevel_fd(), Mcc::kTimeslot)),
      mDevice(std::move(channel))
{
}

PlaySlotGeneric::~PlaySlotGeneric()
{
    // Also when the table deletes the slot without a destroy (exit).
    static_cast<VoiceFactory*>(GetSlotFactory())->OnDestroy(this);
}

bool PlaySlotGeneric::IBeforeDestroy()
{
    static_cast<VoiceFactory*>(GetSlotFactory())->OnDestroy(this);
    return true;
}

void PlaySlotGeneric::PutHeader(std::ostream& os) const
{
    os << GetName() << "[" << mTimeslot << "]: ";
}

PlaySlotNetwork::PlaySlotNetwork(SlotFactory& factory, Fd channel, LGCP::PlayerParams_network const& params)
    : PlaySlotGeneric(factory, std::move(channel)), mHost(dhost2str(params.get_host())),
      mId(params.get_id().getValue())
{
}

void PlaySlotNetwork::PutAddr(std::ostream& os) const
{
    os << ext::escaped(mHost);
}

bool PlaySlotNetwork::IOnOutputStream()
{
    // A released player plays nothing more: a new receiver is refused.
    if (mState == released)
        return false;
    if (mState == idle) {
        mState = connecting;
        mConnect = std::make_unique<ASync::Connect>();
        mConnect->Bind(&PlaySlotNetwork::OnConnect, this);
        mConnect->Start(mHost, kConnectTimeoutMs);
    }
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
        Release();
        return;
    }
    std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
    LGCP::IoctlResponse response;
    response.select_startPlaying();
    OnIoctlResponse(response);
    mState = playing;
    mConnect.reset();

    // The host learns which stream to send from the id, before any audio.
    const uint32_t id = htonl(static_cast<uint32_t>(mId));
    if (::send(socket.lowlevel_fd(), &id, sizeof id, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof id)) {
        std::cerr << ext::header(this) << "play failed" << std::endl;
        Release();
        return;
    }
    mCopy = std::make_unique<ASync::Copy>();
    mCopy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, POLLWRNORM));
    mCopy->Bind(&PlaySlotNetwork::OnPlayComplete, this);
    mCopy->Start(std::move(socket), RefDeviceFd());
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::done)
        std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
    else
        std::cerr << ext::header(this) << "play failed" << std::endl;
    Release();
}

void PlaySlotNetwork::Release()
{
    mState = released;
    OnChangeOutputStream(false);
    mCopy.reset();
    mConnect.reset();
    OnAbort(this, 0);
}

PlaySlotFile::PlaySlotFile(SlotFactory& factory, Fd channel, LGCP::PlayerParams_file const& params)
    : PlaySlotGeneric(factory, std::move(channel)), mRepeat(params.get_repeat().getValue())
{
    for (const auto& name : params.get_name())
        mPhrases.push_back(name);
    mAbort.Bind(this, &PlaySlotFile::delayed_abort);
}

void PlaySlotFile::set_dir_for_test(const std::string& dir)
{
    voice_dir() = dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

bool PlaySlotFile::IOnOutputStream()
{
    // A player that ended plays nothing more: a new receiver is refused.
    if (mEnded)
        return false;
    if (!mStarted) {
        if (!restart()) {
            // Reported from the loop: the connect that asked is refused first.
            mAbort.Activate();
            return false;
        }
        mStarted = true;
    }
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

bool PlaySlotFile::restart()
{
    mNext = 0;
    mRoundOctets = 0;
    return next_phrase();
}

bool PlaySlotFile::next_phrase()
{
    while (mNext < mPhrases.size()) {
        const std::string& name = mPhrases[mNext++];
        if (!acceptable_name(name)) {
            std::cerr << ext::header(this) << "phrase name refused: " << ext::quoted(name) << std::endl;
            continue;
        }
        mFile.close();
        Fd file(::open((voice_dir() + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!file || ::fstat(file.lowlevel_fd(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        ::lseek(file.lowlevel_fd(), 0, SEEK_SET);
        mFile = std::move(file);
        mCopy = std::make_unique<ASync::Copy>();
        mCopy->set_bufsize(kFileBufsize);
        mCopy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, POLLWRNORM));
        mCopy->Bind(&PlaySlotFile::OnPlayComplete, this);
        mCopy->Start(mFile, RefDeviceFd());
        return true;
    }
    return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status != ASync::Copy::Status::done) {
        Release();
        return;
    }
    mRoundOctets += mCopy->copied();
    if (next_phrase())
        return;
    if (mRoundOctets == 0) {
        std::cerr << ext::header(this) << "nothing to play: every phrase is empty" << std::endl;
        Release();
        return;
    }
    // Only a positive count runs out; a negative one is no count at all.
    if (mRepeat > 0 && --mRepeat == 0) {
        Release();
        return;
    }
    if (!restart()) {
        mEnded = true;
        OnAbort(this, 0);
    }
}

void PlaySlotFile::Release()
{
    mEnded = true;
    OnChangeOutputStream(false);
    mCopy.reset();
    OnAbort(this, 0);
}

void PlaySlotFile::delayed_abort()
{
    mAbort.Deactivate();
    OnAbort(this, 0);
}

// ---------------------------------------------------------------- factory

VoiceFactory& VoiceFactory::instance()
{
    static VoiceFactory factory;
    return factory;
}

void VoiceFactory::PutHeader(std::ostream& os) const
{
    os << "voice/mcc[" << mNumber << "]: ";
}

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.voice_isSelected())
        return nullptr;
    const LGCP::VoiceParams& voice = params.get_voice();
    if (voice.record_isSelected())
        return Dotted(voice.get_record()) ? CreateRecord(dhost2str(voice.get_record())) : nullptr;
    if (voice.player_isSelected()) {
        const LGCP::PlayerParams& player = voice.get_player();
        return !player.network_isSelected() || Dotted(player.get_network().get_host()) ? CreatePlay(player) : nullptr;
    }
    return nullptr;
}

bool VoiceFactory::Dotted(TERM::HostAddress const& host) const
{
    uint32_t address;
    if (INet4::ParseDotted(host.get_iaddr(), address))
        return true;
    std::cerr << ext::header(this) << "host " << ext::quoted(host.get_iaddr()) << " is not a dotted IPv4 address"
              << std::endl;
    Answer::Refuse(Answer::invalidParams);
    return false;
}

void VoiceFactory::Query(LGCP::Resources&)
{
}

bool VoiceFactory::Allocated(Mcc::Channel const& r, const char* direction) const
{
    switch (r.failed) {
    case Mcc::Channel::ok:
        return true;
    case Mcc::Channel::open:
        std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << direction << ": "
                  << Errno(r.error) << std::endl;
        break;
    case Mcc::Channel::allocate:
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << Errno(r.error) << std::endl;
        break;
    case Mcc::Channel::query:
        std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
        break;
    }
    return false;
}

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& params)
{
    Mcc::Channel r = Mcc::Allocate(O_WRONLY | O_NONBLOCK, {Mcc::kTransparent, 1024, 0, 0, 5});
    if (!Allocated(r, "writing"))
        return nullptr;
    PlaySlotGeneric* slot = nullptr;
    if (params.network_isSelected())
        slot = new PlaySlotNetwork(*this, std::move(r.fd), params.get_network());
    else if (params.file_isSelected())
        slot = new PlaySlotFile(*this, std::move(r.fd), params.get_file());
    else
        return nullptr;
    mPlaySlots.push_back(slot);
    return slot;
}

Slot* VoiceFactory::CreateRecord(std::string const& host)
{
    Mcc::Channel r = Mcc::Allocate(O_RDONLY | O_NONBLOCK, {Mcc::kTransparent, 1024, 0, 5, 0});
    if (!Allocated(r, "reading"))
        return nullptr;
    auto* slot = new RecordSlot(*this, host, r.timeslot, std::move(r.fd));
    mRecordSlots.push_back(slot);
    return slot;
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot)
{
    remove_from(mPlaySlots, slot);
}

void VoiceFactory::OnDestroy(RecordSlot* slot)
{
    remove_from(mRecordSlots, slot);
}
