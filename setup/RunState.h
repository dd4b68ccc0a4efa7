#pragma once

#include "base/RunTypes.h"

#include <QString>

// The state of one setup run, shared by the Setup command, the sequencer, the
// assignment procedures and the receive handlers. Nothing is passed between
// them as arguments: everything travels through these members. All start as
// zero or empty when the window is created and keep their values from one
// setup run to the next unless a step resets them.
struct RunState {
    // Sequencer phases (mTimerState).
    static constexpr Long kProbe = 0;
    static constexpr Long kCommandLine = 1;
    static constexpr Long kStop = 2;
    static constexpr Long kSetupMenu = 3;
    // Probe cycle kinds (mProbeMode).
    static constexpr Long kAfterDatagram = 0;
    static constexpr Long kAfterArpBinding = 1;
    static constexpr Long kPreCheck = 2;

    Long mState = 0;      // step of the running device dialogue
    Long mTimerState = 0; // sequencer phase
    Long mProbeMode = 0;  // who armed the probe cycle
    Integer mPingCount;   // echo probes sent in the current cycle
    Long mPingResult = 0; // 0: the address answered the latest probe
    Flag mProbeDone = kFalse;

    QString mMacAddress; // twelve lowercase hex digits
    QString mIPAddress;
    QString mGateway;
    QString mSubnetMask; // as typed, blanks kept
    Integer mHostBits;   // 8, 16 or 24

    Integer mCounter;      // chunks on the command-line connection; item counter in the setup menu
    StringArray mRecv;     // latest command-line chunk, at mCounter - 1
    StringArray mMenuRecv; // setup-menu chunks while mState is nonzero
    Integer mMenuCount;    // chunks held in mMenuRecv

    Flag mTestSent = kFalse; // the sign-test messages have been handed over
};
