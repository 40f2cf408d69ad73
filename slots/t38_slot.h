// Software T.38: one child process of the T.38 program per slot, its
// standard input the slot's MCC channel.
#pragma once

#include "core/slot.h"
#include "framework/child_wait.h"

#include <iosfwd>
#include <string>

class T38SoftSlot : public Slot
{
public:
    T38SoftSlot(SlotFactory& factory, int pid, int timeslot);
    // A slot deleted without a destroy (refused for a held channel) still
    // ends its program.
    ~T38SoftSlot() override;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mTimeslot; }
    int IGetReceiveChannel() override { return mTimeslot; }
    const char* GetName() const override { return "t38 soft"; }

    void OnT38Terminate(int status);
    void PutHeader(std::ostream& os) const;

private:
    int mPid;
    int mTimeslot; // -1 once the program has ended: its channel went back
    ChildWait mWatch;
};

class T38SoftFactory : public SlotFactory
{
public:
    static constexpr const char* kProgram = "/usr/local/sbin/t38";
    // How long a resource query waits for the program's answer.
    static constexpr unsigned kQueryTimeoutMs = 2000;

    static T38SoftFactory& instance();

    const char* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void PutHeader(std::ostream& os) const;

    int QueryNumOfInstances();

    // For tests only: the program that is executed in place of kProgram
    // (argv[0] stays kProgram), and the query's time-out.
    static void set_program_for_test(const std::string& path, unsigned queryTimeoutMs = kQueryTimeoutMs);

private:
    T38SoftFactory() = default;
};
