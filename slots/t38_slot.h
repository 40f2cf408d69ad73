// Software T.38: one child process of the T.38 program per slot, its
// standard input the slot's MCC channel.
#pragma once

#include "core/slot.h"
#include "framework/child_wait.h"
#include "framework/timer.h"

#include <iosfwd>
#include <list>
#include <string>

class T38SoftFactory;

class T38SoftSlot : public Slot
{
public:
    T38SoftSlot(T38SoftFactory& factory, int pid, int timeslot);
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
    T38SoftFactory& mFactory;
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
    // How long a program has to end after its slot's SIGTERM.
    static constexpr unsigned kTerminateMs = 5000;

    static T38SoftFactory& instance();

    const char* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void PutHeader(std::ostream& os) const;

    int QueryNumOfInstances();

    // The program of a slot that goes, which does not wait for it: SIGTERM
    // now, SIGKILL when it has not ended kTerminateMs later, or at exit.
    void Terminate(int pid);
    // Exit: the programs still ending are killed.
    void IAtExit() override;

    // For tests only: the program that is executed in place of kProgram
    // (argv[0] stays kProgram), and the query's time-out.
    static void set_program_for_test(const std::string& path, unsigned queryTimeoutMs = kQueryTimeoutMs);

private:
    // A program whose slot is gone, from its SIGTERM to its end.
    class Ending
    {
    public:
        Ending(T38SoftFactory& factory, int pid);
        void OnEnd(int status);
        void OnTimeout(Timer*);

        T38SoftFactory& factory;
        ChildWait watch;
        Timer timer;
    };

    T38SoftFactory() = default;
    void Forget(const Ending& ending);

    std::list<Ending> mEnding;
};
